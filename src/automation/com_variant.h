// SPDX-License-Identifier: MIT
#pragma once

// VARIANT, the value type of COM automation, to and from Value. Kept apart from the IDispatch
// calls (com_dispatch.h) so that every conversion can be tested without an analyser.

#ifndef _WIN32
#error "COM automation exists only on Windows"
#endif

// windows.h first: the OLE headers build on its types.
#include <windows.h>

#include <oleauto.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "automation/automation.h"

namespace vantel {

// Owns one BSTR; frees it when it goes.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(BSTR owned) : text_(owned) {}
    ~Bstr() { SysFreeString(text_); }
    Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        std::swap(text_, other.text_);
        return *this;
    }
    BSTR get() const { return text_; }
    BSTR release() { return std::exchange(text_, nullptr); }

private:
    BSTR text_ = nullptr;
};

// Owns one VARIANT; clearing it on destruction releases the string or object it holds.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    Variant& operator=(Variant&& other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }
    VARIANT* get() { return &value_; }
    const VARIANT& operator*() const { return value_; }

private:
    VARIANT value_;
};

// Text between the analyser (UTF-16) and the panel (UTF-8). Malformed input throws
// AutomationError naming `member` rather than passing on replacement characters.
std::string utf8_from_utf16(std::wstring_view text, std::string_view member);
std::wstring utf16_from_utf8(std::string_view text, std::string_view member);
Bstr bstr_from_utf8(std::string_view text, std::string_view member);

// Makes the panel's object for an IDispatch found inside a VARIANT; it takes its own reference.
using DispatchWrapper = std::function<ObjectRef(IDispatch*)>;

// The value a VARIANT holds. References (VT_BYREF) are followed; every signed and unsigned
// integer type becomes an integer, VT_R4, VT_R8, VT_CY and VT_DECIMAL a double, VT_BOOL keeps
// its bits, VT_BSTR becomes UTF-8, and VT_DISPATCH (or a VT_UNKNOWN that offers IDispatch)
// becomes the object `wrap` makes; a null IDispatch is an object
// value holding no object. Anything else (dates, arrays, error codes...) throws AutomationError
// naming `member` and the VARIANT type.
Value from_variant(const VARIANT& v, std::string_view member, const DispatchWrapper& wrap);

// The VARIANT the analyser receives for a value: whole numbers as VT_I4 (VT_I8 beyond 32 bits),
// Booleans as VT_BOOL with the same bits, texts as VT_BSTR, objects as VT_DISPATCH. Only objects
// that came from the COM analyser can go back to it; others throw AutomationError.
Variant to_variant(const Value& v, std::string_view member);

// "VT_DATE", "VT_BYREF VT_I4", "VT_ARRAY VT_VARIANT": for messages.
std::string variant_type_name(VARTYPE type);

// The system's text for an HRESULT with its code: "Invalid class string (0x800401F3)".
std::string hresult_text(HRESULT result);

}  // namespace vantel
