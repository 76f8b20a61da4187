// SPDX-License-Identifier: MIT
#pragma once

// The analyser reached through COM automation, as a late-bound automation client reaches it: the
// application object is created from its programmatic identifier, and every member is looked up
// by name (GetIDsOfNames) and read or written through IDispatch::Invoke. No type library and no
// generated headers: late binding keeps working across analyser versions that add members.

#ifndef _WIN32
#error "COM automation exists only on Windows"
#endif

// windows.h first: the OLE headers build on its types.
#include <windows.h>

#include <oleauto.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/automation.h"

namespace vantel {

// COM initialised on this thread (single-threaded apartment) for as long as one lives. Every
// object from obtain_com_application holds it, so the apartment outlives the last reference
// into the analyser. Where COM is already initialised (Qt's window system does so on Windows)
// this only counts one more user.
class ComApartment {
public:
    // Throws AutomationError naming `who` when COM cannot be initialised.
    explicit ComApartment(std::string_view who);
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool balance_ = false;  // whether this guard owes CoUninitialize
};

struct ComRelease {
    void operator()(IUnknown* object) const { object->Release(); }
};

// One analyser object: holds one reference on its IDispatch for its whole life.
class DispatchObject final : public AutomationObject {
public:
    // Takes a reference of its own on `dispatch`. `apartment` may be null when the caller keeps
    // COM initialised itself.
    DispatchObject(IDispatch* dispatch, std::shared_ptr<const ComApartment> apartment);

    Value get(std::string_view member) override;
    void set(std::string_view member, const Value& value) override;
    // From the object's type information (IDispatch::GetTypeInfo), when it offers any.
    std::vector<MemberInfo> members() override;

    IDispatch* dispatch() const { return dispatch_.get(); }

private:
    DISPID dispid(std::string_view member);

    // Declared first so that it goes last, after the reference below is released.
    std::shared_ptr<const ComApartment> apartment_;
    std::unique_ptr<IDispatch, ComRelease> dispatch_;
    // An IDispatch keeps its member IDs for its lifetime; the application object lives for the
    // whole run, so this halves the calls into the analyser's process.
    std::map<std::string, DISPID, std::less<>> dispids_;
};

// The application object registered as `prog_id`, created in the analyser's own process where
// it runs as a local server, or in ours where it is an in-process server. Throws
// AutomationError naming `prog_id` when it is not registered or cannot be created.
ObjectRef obtain_com_application(std::string_view prog_id);

}  // namespace vantel
