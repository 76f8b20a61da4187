// SPDX-License-Identifier: MIT
#pragma once

// How the analyser's automation members travel over D-Bus, shared by the analyser program that
// exports them (instrument/dbus_export.h) and the panel's backend that reads them
// (analyser/dbus_backend.h).
//
//   bus name      Vantel.Application                      (the programmatic identifier)
//   object paths  /Vantel/Application                     the application object
//                 /Vantel/Application/CTDetector          one path per sub-object
//   interfaces    Vantel.Application, Vantel.CTDetector   "Vantel." + the path's last element
//   members       D-Bus properties of their natural type: codes n, frame rate i, readings d,
//                 names s, Booleans b, sub-objects o (the sub-object's path)
//
// Properties that never change during a run (the named constants and the sub-object paths)
// carry the standard annotation org.freedesktop.DBus.Property.EmitsChangedSignal = "const";
// the others say "false", because the analyser emits no PropertiesChanged: the panel polls.

#include <QString>
#include <QVariant>

#include <optional>
#include <string_view>

#include "automation/automation.h"

namespace vantel::dbus {

inline constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
inline constexpr char kChangeAnnotation[] = "org.freedesktop.DBus.Property.EmitsChangedSignal";

// The analyser took the request and said no: a write it refuses ("CTD_Unit: 99 is not a unit
// code"). Messages start with the member's name.
inline constexpr char kRefusedError[] = "Vantel.Error.Refused";
// The analyser could not serve a read (it is in trouble, or a test told it to fail).
inline constexpr char kFailedError[] = "Vantel.Error.Failed";

// Where a test steers the exported analyser's faults (vantel-analyser --test-control).
inline constexpr char kTestControlPath[] = "/Vantel/TestControl";
inline constexpr char kTestControlInterface[] = "Vantel.TestControl";

// "/Vantel/Application" for "Vantel.Application".
QString object_path_for(std::string_view service);
// "Vantel.CTDetector" for "/Vantel/Application/CTDetector", "Vantel.Application" for
// "/Vantel/Application".
QString interface_for_path(const QString& path);

// A D-Bus value of a basic type (y n q i u x t d b s) as an automation value; nothing for an
// object path, a container or an unsigned 64-bit number beyond the signed range.
std::optional<Value> value_from_dbus(const QVariant& v);

// `v` as a D-Bus value. A whole number goes as `integer_type` (one of y n q i u x t) when it
// fits that type, otherwise as the narrowest of n, i, x that holds it. Empty, null and objects
// have no D-Bus form: nothing.
std::optional<QVariant> dbus_from_value(const Value& v, char integer_type = 'n');

// The D-Bus type letter of a basic value ('n', 's', ...), or the signature of a container;
// "?" when Qt cannot tell. For messages and for remembering how a value came.
QString dbus_signature_of(const QVariant& v);

}  // namespace vantel::dbus
