#pragma once

// Late-bound automation on Windows: an outside application's objects reached through IDispatch,
// every member addressed by its name at run time, arguments passed as variants. No type library
// of the application is needed. Used from the user-interface thread only. A failed call throws
// ExportError with the application's own text (or the system's for the error), of the kind
// ServerGone when the application is no longer there to answer.

#include "ExportError.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <initializer_list>

#include <windows.h>

#include <oleauto.h>

// One argument or result; owns what its variant holds.
class AutoVariant {
public:
    AutoVariant() { VariantInit(&v_); }
    AutoVariant(const QString& text);   // BSTR
    AutoVariant(std::int32_t value);    // VT_I4
    AutoVariant(std::uint16_t value);   // VT_UI2
    AutoVariant(std::uint32_t value);   // VT_UI4
    AutoVariant(bool value);            // VT_BOOL
    explicit AutoVariant(IDispatch* d); // VT_DISPATCH, adds a reference
    AutoVariant(const AutoVariant& other);
    AutoVariant& operator=(const AutoVariant& other);
    ~AutoVariant() { VariantClear(&v_); }

    // An argument left out (a positional optional argument before a given one).
    static AutoVariant Missing();
    // A one-dimensional array of variants, lower bound 0, no element.
    static AutoVariant EmptyArray();

    VARIANT& Raw() { return v_; }
    bool ToBool() const;
    int ToInt() const;
    IDispatch* Dispatch() const; // null unless an object reference

private:
    VARIANT v_;
};

// A reference to an automation object; empty when it holds none.
class AutoObject {
public:
    AutoObject() = default;
    explicit AutoObject(IDispatch* d); // adds a reference
    AutoObject(const AutoObject& other);
    AutoObject& operator=(AutoObject other);
    ~AutoObject();

    // The running instance registered for the identifier; empty when none runs or the
    // identifier is unknown.
    static AutoObject Attach(const QString& progId);
    // A new instance of the identifier's class (in-process or local server). Throws ExportError
    // when the identifier is unknown or the instance cannot be made.
    static AutoObject Create(const QString& progId);
    // As Create, but made on a thread of its own while this one calls waitStep about every 50 ms
    // (an office that is still starting, perhaps behind its recovery dialog, keeps the window
    // responsive). Empty when waitStep returned false: the wait is given up quietly and the
    // instance, if it still comes, is let go unseen. Throws ExportError as Create does.
    static AutoObject CreateWaiting(const QString& progId, const std::function<bool()>& waitStep);

    explicit operator bool() const { return d_ != nullptr; }
    IDispatch* Raw() const { return d_; }

    // Calls the member as kind (DISPATCH_METHOD, DISPATCH_PROPERTYGET, or both) with positional
    // arguments, first argument first. Throws ExportError.
    AutoVariant Invoke(const QString& member, WORD kind, std::initializer_list<AutoVariant> args);
    AutoVariant Call(const QString& member, std::initializer_list<AutoVariant> args = {}) {
        return Invoke(member, DISPATCH_METHOD, args);
    }
    // A property or method that hands back an object; throws when it hands back none.
    AutoObject Get(const QString& member, std::initializer_list<AutoVariant> args = {});
    void Put(const QString& member, const AutoVariant& value);

private:
    IDispatch* d_ = nullptr;
};
