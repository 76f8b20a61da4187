// SPDX-License-Identifier: MIT
// The status words and the function lamp, and the vocabularies bound to this analyser.
#include <QLabel>

#include "analyser/conversions.h"
#include "panel/form1.h"
#include "panel/picture_box.h"
#include "status/functions.h"

namespace vantel {

ConstantReader Form1::constant_reader() const {
    return [app = AnalyzerApp](std::string_view name) { return to_double(app->get(name), name); };
}

void Form1::Renew_Status() {
    // All shown values first, before anything is asked of the analyser.
    Current_Unit = New_Unit;
    Current_Weighting = New_Weighting;
    Current_Response = New_Response;
    Current_Default_Weighting = New_Default_Weighting;
    Current_Relativity = New_Relativity;

    show_response_word();
    show_relativity_word();
    show_weighting_word();
}

void Form1::show_response_word() {
    Label10->setText(QString::fromStdString(interpret_Response(Current_Response)));
}

void Form1::show_relativity_word() {
    Rel_Label->setText(QString::fromStdString(interpret_relativity(Current_Relativity)));
}

void Form1::show_weighting_word() {
    // While the detector follows the default filter, name the filter that is the default.
    const double default_code = constant_reader()("CTD_WEIGHTING_DEFAULT");
    Label5->setText(QString::fromStdString(interpret_Weighting(
        Current_Weighting == default_code ? Current_Default_Weighting : Current_Weighting)));
}

void Form1::Select_Function_indicator() {
    for (PictureBox* lamp : Blip)
        lamp->hide();
    Blip[static_cast<std::size_t>(function_lamp(Selection_Info1->text().toStdString()))]->show();
}

std::string Form1::interpret_units(std::int16_t unit) const {
    return vantel::interpret_units(unit, constant_reader());
}

std::string Form1::interpret_Weighting(std::int16_t Weighting) const {
    return interpret_weighting(Weighting, constant_reader());
}

std::string Form1::interpret_Response(std::int16_t Response) const {
    return interpret_response(Response, constant_reader());
}

std::string Form1::interpret_relativity(std::int16_t iRelativity) const {
    return vantel::interpret_relativity(iRelativity, constant_reader());
}

std::string Form1::interpret_analogue_input(std::int16_t iinput) const {
    return vantel::interpret_analogue_input(iinput, constant_reader());
}

std::string Form1::interpretDigInput(std::int16_t dinput) const {
    return interpret_digital_input(dinput, constant_reader());
}

}  // namespace vantel
