#include "AutomationWindows.h"

#include "AutomationMessageFilter.h"

#include <objbase.h>

#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace {

QString SystemText(HRESULT hr) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text = n ? QString::fromWCharArray(buffer, static_cast<int>(n)).trimmed() : QString();
    LocalFree(buffer);
    if (text.isEmpty())
        text = QStringLiteral("Automation error 0x%1")
                   .arg(static_cast<quint32>(hr), 8, 16, QLatin1Char('0'));
    return text;
}

// The calling thread joins an apartment once (the toolkit has usually done so already) and
// registers the filter that retries the calls a busy application rejects.
void EnsureComInitialised() {
    static const bool done = [] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        RegisterBusyRetryFilter();
        return true;
    }();
    (void)done;
}

// Results that say the application at the other end is gone: closed by the user, crashed, or
// its objects disconnected. Every later call would fail the same way.
bool ServerGone(HRESULT hr) {
    switch (hr) {
    case RPC_E_DISCONNECTED:
    case RPC_E_SERVER_DIED:
    case RPC_E_SERVER_DIED_DNE:
    case CO_E_OBJNOTCONNECTED:
    case HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED):
    case HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        return false;
    }
}

ExportError Failure(const QString& text, HRESULT hr) {
    return ExportError(text,
                       ServerGone(hr) ? ExportError::Kind::ServerGone : ExportError::Kind::Failure);
}

BSTR ToBstr(const QString& text) {
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.utf16()),
                             static_cast<UINT>(text.size()));
}

bool ClassOf(const QString& progId, CLSID& clsid) {
    EnsureComInitialised();
    return SUCCEEDED(CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(progId.utf16()), &clsid));
}

} // namespace

namespace {

// AutoObject::CreateWaiting: a thread of its own makes an instance first (which starts the
// application as long as it takes) and holds it until the calling thread has made its own, which
// the running application then answers at once. Nothing crosses between the apartments.
constexpr DWORD kStepMs = 50;

// What the two threads share; the last one to let go frees it.
struct Creation {
    HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr); // the first instance is there
    HANDLE taken =
        CreateEventW(nullptr, TRUE, FALSE, nullptr); // the caller has its own, or gave up
    HRESULT result = E_FAIL;

    ~Creation() {
        CloseHandle(made);
        CloseHandle(taken);
    }
};

void CreateOnItsThread(const std::shared_ptr<Creation>& creation, CLSID clsid) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IUnknown* first = nullptr;
    creation->result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                        IID_IUnknown, reinterpret_cast<void**>(&first));
    SetEvent(creation->made);
    // Held until the caller has its own instance, so that the application does not end meanwhile
    // for want of clients.
    WaitForSingleObject(creation->taken, INFINITE);
    if (first)
        first->Release();
    CoUninitialize();
}

} // namespace

AutoVariant::AutoVariant(const QString& text) : AutoVariant() {
    v_.vt = VT_BSTR;
    v_.bstrVal = ToBstr(text);
}

AutoVariant::AutoVariant(std::int32_t value) : AutoVariant() {
    v_.vt = VT_I4;
    v_.lVal = value;
}

AutoVariant::AutoVariant(std::uint16_t value) : AutoVariant() {
    v_.vt = VT_UI2;
    v_.uiVal = value;
}

AutoVariant::AutoVariant(std::uint32_t value) : AutoVariant() {
    v_.vt = VT_UI4;
    v_.ulVal = value;
}

AutoVariant::AutoVariant(bool value) : AutoVariant() {
    v_.vt = VT_BOOL;
    v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

AutoVariant::AutoVariant(IDispatch* d) : AutoVariant() {
    v_.vt = VT_DISPATCH;
    v_.pdispVal = d;
    if (d)
        d->AddRef();
}

AutoVariant::AutoVariant(const AutoVariant& other) : AutoVariant() {
    VariantCopy(&v_, const_cast<VARIANT*>(&other.v_));
}

AutoVariant& AutoVariant::operator=(const AutoVariant& other) {
    if (this != &other)
        VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)); // clears what v_ held first
    return *this;
}

AutoVariant AutoVariant::Missing() {
    AutoVariant v;
    v.v_.vt = VT_ERROR;
    v.v_.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

AutoVariant AutoVariant::EmptyArray() {
    AutoVariant v;
    SAFEARRAYBOUND bound{0, 0}; // no element, lower bound 0
    v.v_.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    v.v_.vt = VT_ARRAY | VT_VARIANT;
    return v;
}

bool AutoVariant::ToBool() const {
    VARIANT b;
    VariantInit(&b);
    const bool ok = SUCCEEDED(VariantChangeType(&b, const_cast<VARIANT*>(&v_), 0, VT_BOOL));
    const bool value = ok && b.boolVal != VARIANT_FALSE;
    VariantClear(&b);
    return value;
}

int AutoVariant::ToInt() const {
    VARIANT i;
    VariantInit(&i);
    const int value =
        SUCCEEDED(VariantChangeType(&i, const_cast<VARIANT*>(&v_), 0, VT_I4)) ? i.lVal : 0;
    VariantClear(&i);
    return value;
}

IDispatch* AutoVariant::Dispatch() const {
    return v_.vt == VT_DISPATCH ? v_.pdispVal : nullptr;
}

AutoObject::AutoObject(IDispatch* d) : d_(d) {
    if (d_)
        d_->AddRef();
}

AutoObject::AutoObject(const AutoObject& other) : AutoObject(other.d_) {}

AutoObject& AutoObject::operator=(AutoObject other) {
    std::swap(d_, other.d_);
    return *this;
}

AutoObject::~AutoObject() {
    if (d_)
        d_->Release();
}

AutoObject AutoObject::Attach(const QString& progId) {
    CLSID clsid;
    if (!ClassOf(progId, clsid))
        return {};
    IUnknown* unknown = nullptr;
    if (FAILED(GetActiveObject(clsid, nullptr, &unknown)) || !unknown)
        return {};
    IDispatch* d = nullptr;
    unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    unknown->Release();
    AutoObject object(d);
    if (d)
        d->Release(); // the object holds the one reference
    return object;
}

AutoObject AutoObject::Create(const QString& progId) {
    CLSID clsid;
    if (!ClassOf(progId, clsid))
        throw ExportError(QStringLiteral("Invalid class string: ") + progId);
    IDispatch* d = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                        IID_IDispatch, reinterpret_cast<void**>(&d));
    if (FAILED(hr) || !d)
        throw Failure(SystemText(hr), hr);
    AutoObject object(d);
    d->Release();
    return object;
}

AutoObject AutoObject::CreateWaiting(const QString& progId, const std::function<bool()>& waitStep) {
    CLSID clsid;
    if (!ClassOf(progId, clsid))
        throw ExportError(QStringLiteral("Invalid class string: ") + progId);
    auto creation = std::make_shared<Creation>();
    if (!creation->made || !creation->taken)
        return Create(progId);
    std::thread(CreateOnItsThread, creation, clsid).detach();
    while (WaitForSingleObject(creation->made, kStepMs) == WAIT_TIMEOUT) {
        if (waitStep && !waitStep()) {
            SetEvent(creation->taken); // the first instance, when it comes, is let go
            return {};
        }
    }
    if (FAILED(creation->result)) {
        SetEvent(creation->taken);
        throw Failure(SystemText(creation->result), creation->result);
    }
    try {
        AutoObject object = Create(progId);
        SetEvent(creation->taken);
        return object;
    } catch (...) {
        SetEvent(creation->taken);
        throw;
    }
}

AutoVariant AutoObject::Invoke(const QString& member, WORD kind,
                               std::initializer_list<AutoVariant> args) {
    if (!d_)
        throw ExportError(QStringLiteral("Variant does not reference an automation object"));
    LPOLESTR name = const_cast<LPOLESTR>(reinterpret_cast<LPCOLESTR>(member.utf16()));
    DISPID id = 0;
    HRESULT hr = d_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        throw Failure(QStringLiteral("Unknown name: ") + member, hr);

    // The call takes its arguments last first; the variants are lent, not copied.
    std::vector<VARIANTARG> reversed;
    for (auto it = std::rbegin(args); it != std::rend(args); ++it)
        reversed.push_back(const_cast<AutoVariant&>(*it).Raw());
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (kind & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    AutoVariant result;
    EXCEPINFO error{};
    UINT badArgument = 0;
    hr = d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params,
                    (kind & DISPATCH_PROPERTYPUT) ? nullptr : &result.Raw(), &error, &badArgument);
    if (FAILED(hr)) {
        QString text;
        if (hr == DISP_E_EXCEPTION && error.bstrDescription)
            text = QString::fromWCharArray(error.bstrDescription);
        SysFreeString(error.bstrSource);
        SysFreeString(error.bstrDescription);
        SysFreeString(error.bstrHelpFile);
        throw Failure(text.isEmpty() ? SystemText(hr) : text, hr);
    }
    return result;
}

AutoObject AutoObject::Get(const QString& member, std::initializer_list<AutoVariant> args) {
    AutoVariant result = Invoke(member, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
    if (!result.Dispatch())
        throw ExportError(member + QStringLiteral(": no object"));
    return AutoObject(result.Dispatch());
}

void AutoObject::Put(const QString& member, const AutoVariant& value) {
    Invoke(member, DISPATCH_PROPERTYPUT, {value});
}
