// SPDX-License-Identifier: MIT
// Minimum and maximum since the last reset. Their labels are copies of the main reading and its
// unit as they stood when the extreme was set, so they keep the range and format of that moment.
#include <QLabel>

#include <cmath>
#include <limits>

#include "panel/form1.h"

namespace vantel {

void Form1::Update_MaxMin() {
    if (reading_unusable_)
        return;  // an over-range mark is not a minimum or a maximum
    if (Current_Reading < Min_Reading) {
        Min_Reading = Current_Reading;
        Label4->setText(Label1->text());
        Label3->setText(Label9->text());
    }
    if (Current_Reading > Max_Reading) {
        Max_Reading = Current_Reading;
        Label6->setText(Label1->text());
        Label7->setText(Label9->text());
    }
}

void Form1::Reset_MaxMin() {
    restart_min_max();
    Label4->setText(Label1->text());
    Label3->setText(Label9->text());
    Label6->setText(Label1->text());
    Label7->setText(Label9->text());
}

void Form1::restart_min_max() {
    if (reading_unusable_) {
        Min_Reading = std::numeric_limits<double>::infinity();
        Max_Reading = -std::numeric_limits<double>::infinity();
    } else {
        Min_Reading = Current_Reading;
        Max_Reading = Current_Reading;
    }
}

}  // namespace vantel
