// kv9000.com: the program started from a Windows console. A command prompt runs kv9000.com
// before kv9000.exe when one types "kv9000"; the windowed kv9000.exe alone would return to the
// prompt at once, print after it and lose its exit code. This launcher starts kv9000.exe from its
// own folder with the same arguments, relays what it writes to standard output and standard
// error, waits for it and returns its exit code.
//
// The program writes UTF-8 into the launcher's pipes (asked for by KV9000_OUTPUT_UTF8=1 in its
// environment). The launcher shows it in its console as UTF-16, so Russian appears whatever the
// console's code page; redirected into a file or a pipe, the output stays UTF-8.

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace {

// The command line after the launcher's own name, as typed (quotes kept).
std::wstring ArgumentsOf(const wchar_t* commandLine) {
    const wchar_t* p = commandLine;
    bool quoted = false;
    for (; *p && (quoted || (*p != L' ' && *p != L'\t')); ++p)
        if (*p == L'"')
            quoted = !quoted;
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

std::wstring ProgramBeside() {
    std::vector<wchar_t> path(32768);
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring self(path.data(), n);
    const std::size_t dot = self.find_last_of(L'.');
    const std::size_t slash = self.find_last_of(L"\\/");
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        self.erase(dot);
    return self + L".exe";
}

// Copies what arrives on `from` to `to`: into a console as UTF-16 (a character split between
// two reads waits for its rest), anywhere else as the UTF-8 bytes themselves.
void Relay(HANDLE from, HANDLE to) {
    DWORD mode = 0;
    const bool console = to != nullptr && to != INVALID_HANDLE_VALUE && GetConsoleMode(to, &mode);
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        if (to == nullptr || to == INVALID_HANDLE_VALUE)
            continue;
        DWORD written = 0;
        if (!console) {
            WriteFile(to, buffer, got, &written, nullptr);
            continue;
        }
        pending.append(buffer, got);
        // The end of the last whole character: a lead byte without all its continuation bytes
        // stays for the next read.
        std::size_t whole = pending.size();
        for (std::size_t back = 1; back <= 3 && back <= pending.size(); ++back) {
            const unsigned char c = static_cast<unsigned char>(pending[pending.size() - back]);
            if ((c & 0xC0) == 0x80)
                continue; // a continuation byte: look further back
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > back)
                whole = pending.size() - back;
            break;
        }
        const int wide =
            MultiByteToWideChar(CP_UTF8, 0, pending.data(), static_cast<int>(whole), nullptr, 0);
        std::wstring text(static_cast<std::size_t>(wide), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, pending.data(), static_cast<int>(whole), text.data(), wide);
        WriteConsoleW(to, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        pending.erase(0, whole);
    }
}

} // namespace

int wmain() {
    const std::wstring program = ProgramBeside();
    std::wstring commandLine = L"\"" + program + L"\"";
    const std::wstring arguments = ArgumentsOf(GetCommandLineW());
    if (!arguments.empty())
        commandLine += L" " + arguments;

    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherited, 0) ||
        !CreatePipe(&errRead, &errWrite, &inherited, 0))
        return 1;
    // Only the child's ends are inherited.
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    SetEnvironmentVariableW(L"KV9000_OUTPUT_UTF8", L"1");
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &child)) {
        const std::wstring text = L"kv9000: не удаётся запустить " + program + L"\n";
        DWORD written = 0;
        const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        DWORD mode = 0;
        if (GetConsoleMode(err, &mode)) {
            WriteConsoleW(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        } else {
            const int n =
                WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
            std::string bytes(static_cast<std::size_t>(n), '\0');
            WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                bytes.data(), n, nullptr, nullptr);
            WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        }
        return 1;
    }
    // The pipes end when the child (and whatever it started) has closed its ends.
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    std::thread errors(Relay, errRead, GetStdHandle(STD_ERROR_HANDLE));
    Relay(outRead, GetStdHandle(STD_OUTPUT_HANDLE));
    errors.join();
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return static_cast<int>(code);
}
