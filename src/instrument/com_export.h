// SPDX-License-Identifier: MIT
#pragma once

// Our analyser as a COM automation server, as vantel-analyser runs it on Windows: the
// application object "Vantel.Application" and the sub-objects it hands out, each an IDispatch
// over the analyser's own member tables (instrument::object_model(), which drives the D-Bus
// export too). Members are numbered in the order the tables list them, found by name without
// regard to case, as late-bound clients (and the languages they are written in) expect, and
// read in their natural types (a code as a 16-bit VT_I2, a frame rate as VT_I4...). There is no
// type library: clients look every member up by name, and COM's standard marshaller carries
// IDispatch between processes; type information made from the tables lists the members.
//
// A write the analyser refuses raises an exception (DISP_E_EXCEPTION, scode E_INVALIDARG) whose
// description is the analyser's reason; a failed read raises one with E_FAIL; writing a
// read-only member answers DISP_E_MEMBERNOTFOUND, a value of a type no member takes
// DISP_E_TYPEMISMATCH. Like com_dispatch.*, this is the standard library and Windows alone.

#ifndef _WIN32
#error "COM automation exists only on Windows"
#endif

// windows.h first: the OLE headers build on its types.
#include <windows.h>

#include <oleauto.h>

#include <functional>
#include <memory>
#include <string>

#include "automation/automation.h"
#include "instrument/analyser.h"

namespace vantel {

// Our analyser's class, and the programmatic identifier clients create it by.
extern const CLSID kAnalyserClassId;
inline constexpr wchar_t kAnalyserProgId[] = L"Vantel.Application";

// Counts the server's objects in clients' hands and the clients' locks (IClassFactory::LockServer).
// A server that COM started for a client ends when the count falls back to zero.
class ServerLifetime {
public:
    explicit ServerLifetime(std::function<void()> on_unused = {})
        : on_unused_(std::move(on_unused)) {}
    void add() { ++count_; }
    void release();
    long count() const { return count_; }

private:
    std::function<void()> on_unused_;
    long count_ = 0;  // every call arrives on the server's one thread (a single-threaded apartment)
};

struct ServedAnalyser;

// An IDispatch over our analyser's application object, with one reference for the caller;
// `lifetime` must outlive it and every sub-object it hands out.
IDispatch* make_analyser_dispatch(ObjectRef application, ServerLifetime& lifetime);

// Hands every client a new application object on the one analyser (REGCLS_MULTIPLEUSE), so all
// of them see and change the same settings, as they would with the maker's application.
class AnalyserClassFactory final : public IClassFactory {
public:
    AnalyserClassFactory(Analyser analyser, ServerLifetime& lifetime);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    // The factory lives on the server's stack for the whole run: counting is for COM's sake.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    Analyser analyser_;
    std::shared_ptr<ServedAnalyser> served_;  // what all its clients' objects share
};

// Registers the server for the current user, under HKEY_CURRENT_USER\Software\Classes: the
// programmatic identifier, its class and LocalServer32 naming `server_path`. No administrator
// is needed, and the class is found only in this user's sessions. Empty when done, else what
// failed.
std::string register_analyser_server(const std::wstring& server_path);
// Removes what register_analyser_server wrote. A programmatic identifier that names another
// class (another analyser application's) is left alone. Empty when done, else what failed.
std::string unregister_analyser_server();

}  // namespace vantel
