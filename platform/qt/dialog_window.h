// SPDX-License-Identifier: MIT
// One dialog window built from a template of res/templates.h, as a classic dialog manager
// would build it: dialog units converted from the font's average character width and height,
// controls in template order (which is also the tab order), the default button, and Escape and
// the close box turned into the Cancel command instead of closing the window.
#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "res/templates.h"
#include "ui/dialog_units.h"

namespace zoq::qt {

// The font a template's font name and size stand for: the desktop's sans-serif font at the
// same point size ("MS Sans Serif" 8 pt is the desktop sans-serif at 8 pt).
QFont dialog_font(const char* face, int points);

// The dialog base units of `font` in pixels: average character width, character height.
DialogUnits dialog_units(const QFont& font);

// The program's icon (286): the window icon of every dialog and the picture of the phone
// variant of the address dialog.
QIcon program_icon();

// Texts cross the port as bytes in UTF-8 (bytes that are not UTF-8 are read as Latin-1, one
// character each); CR LF is a line break.
QString to_qstring(std::string_view text, bool line_breaks);
std::string from_qstring(const QString& text, bool line_breaks);

// The dotted form of what was typed into an IPv4 address entry: each of the four fields as a
// decimal number, an empty or missing field read as 0 ("" reads "0.0.0.0").
std::string dotted_form(std::string_view typed);

class DialogWindow final : public QDialog {
  public:
    using CommandSink = std::function<void(int command)>;

    // GUI thread only. Unique control ids per template are checked here.
    DialogWindow(const DialogTemplate& tmpl, CommandSink on_command);

    const DialogTemplate& dialog_template() const { return tmpl_; }
    const DialogUnits& units() const { return units_; }
    // The widget of control `id`, or null.
    QWidget* control(int id) const;
    const ControlTemplate* control_template(int id) const;

    void set_text(int id, std::string_view text);
    std::string text(int id) const;
    void focus_control(int id);
    void focus_first_tab_stop();
    void set_progress_range(int id, int low, int high);
    void set_progress_pos(int id, int pos);
    void list_add(int id, std::string_view text);
    void list_select(int id, int index);
    int list_selected(int id) const;

    // Escape arrives here through QDialog's key handling: Cancel, the window stays.
    void reject() override;
    void accept() override {}
    void done(int) override {}

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* build_control(const ControlTemplate& c);

    const DialogTemplate& tmpl_;
    CommandSink on_command_;
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    std::map<int, const ControlTemplate*> control_templates_;
};

}  // namespace zoq::qt
