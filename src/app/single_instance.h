// SPDX-License-Identifier: MIT
#pragma once

// One panel per analyser in a session. Two panels on one analyser would each save the analyser's
// option at start-up, and the second would save the first one's "off" and put that back at the
// end, losing the user's setting. So the panel that attaches over D-Bus owns the bus name
// "Vantel.DMM"; a second start finds it owned, asks the first to come to the front through the
// desktop's usual interface (org.freedesktop.Application.Activate at /Vantel/DMM) and ends.

#include <QObject>
#include <QVariantMap>

#include <memory>

namespace vantel {

inline constexpr char kPanelBusName[] = "Vantel.DMM";

class PanelInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    enum class Claim {
        Owned,       // this is the one panel; it answers Activate from now on
        OtherPanel,  // another panel has the name and was asked to come to the front
        NoBus,       // no session bus to hold a name on: nothing to guard against
    };

    // Claims the name on the session bus. When another panel has it and `bring_to_front`, asks
    // that one to come to the front (a run without a window leaves it alone); `message` says what
    // happened, for standard error.
    static std::unique_ptr<PanelInstance> claim(Claim& outcome, QString& message,
                                                bool bring_to_front = true);
    ~PanelInstance() override;

Q_SIGNALS:
    // Another start of the program asked for this panel.
    void activation_requested();

public Q_SLOTS:
    // org.freedesktop.Application: the panel has no actions and opens no files.
    Q_SCRIPTABLE void Activate(const QVariantMap& platform_data);

private:
    PanelInstance() = default;
};

}  // namespace vantel
