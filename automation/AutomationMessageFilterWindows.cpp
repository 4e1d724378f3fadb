#include "AutomationMessageFilter.h"

#include <windows.h>

#include <objbase.h>

namespace {

constexpr DWORD kRetryEveryMs = 100;
constexpr DWORD kRetryForMs = 30'000;

class BusyRetryFilter final : public IMessageFilter {
public:
    // Lives as long as the program: the counts need not free anything.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IMessageFilter) {
            *out = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // Calls into this program: it serves none, so it takes whatever comes.
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }

    // A call the application rejected: "busy, retry later" is tried again after kRetryEveryMs
    // until kRetryForMs have passed; an outright refusal fails at once.
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsedMs, DWORD rejectType) override {
        if (rejectType == SERVERCALL_RETRYLATER && elapsedMs < kRetryForMs)
            return kRetryEveryMs;
        return static_cast<DWORD>(-1);
    }

    // Window messages that arrive while a call waits are handled as usual.
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
        return PENDINGMSG_WAITDEFPROCESS;
    }
};

} // namespace

void RegisterBusyRetryFilter() {
    static BusyRetryFilter filter;
    IMessageFilter* previous = nullptr;
    CoRegisterMessageFilter(&filter, &previous);
    if (previous)
        previous->Release();
}
