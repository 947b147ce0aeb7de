// SPDX-License-Identifier: MIT
#include "platform/qt/dialog_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <cstring>

#include "platform/qt/gui_calls.h"
#include "ui/port.h"

namespace zoq::qt {
namespace {

// The classic dialog manager's icon size (SM_CXICON): a static icon shows at this size,
// whatever its control's rectangle says.
constexpr int ICON_SIZE = 32;
constexpr const char* PROGRAM_ICON_ID = "286";

// Up to four fields of 0 to 255 with optional leading zeros; every prefix of such a text is an
// acceptable intermediate state, anything else is refused keystroke by keystroke.
const char* const IPV4_PATTERN =
    R"(^((25[0-5]|2[0-4]\d|[01]?\d?\d)?\.){0,3}(25[0-5]|2[0-4]\d|[01]?\d?\d)?$)";

void read_only_background(QWidget* w) {
    // Read-only edits sit on the dialog's own colour, as classic ones do.
    QPalette p = w->palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    w->setPalette(p);
}

Qt::Alignment horizontal_alignment(std::uint32_t style) {
    if (style & STYLE_ALIGN_RIGHT) return Qt::AlignRight;
    if (style & STYLE_ALIGN_CENTER) return Qt::AlignHCenter;
    return Qt::AlignLeft;
}

}  // namespace

QFont dialog_font(const char* face, int points) {
    // Every template names "MS Sans Serif"; whatever the face, the desktop's sans-serif font
    // stands in for it at the template's size.
    (void)face;
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(points > 0 ? points : 8);
    return font;
}

DialogUnits dialog_units(const QFont& font) {
    QFontMetrics fm(font);
    int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {average_char_width(letters), fm.height()};
}

QIcon program_icon() {
    // Every new window sends each size of its icon to the X server, pixel by pixel: the sizes
    // a title bar or task bar shows, not a launcher's, which comes from the icon theme.
    QIcon icon;
    icon.addFile(QStringLiteral(":/zoq/zoq-upgrade-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/zoq/zoq-upgrade-48.png"), QSize(48, 48));
    return icon;
}

QString to_qstring(std::string_view text, bool line_breaks) {
    // Device values arrive as the device sent them. Decoding bytes that are not UTF-8 as UTF-8
    // would show replacement characters: such a text is shown byte for byte instead.
    const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
    QString s = bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
    if (line_breaks) s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

std::string from_qstring(const QString& text, bool line_breaks) {
    QString s = text;
    if (line_breaks) s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    QByteArray bytes = s.toUtf8();
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

std::string dotted_form(std::string_view typed) {
    unsigned fields[4] = {0, 0, 0, 0};
    int field = 0;
    for (char c : typed) {
        if (c == '.') {
            if (++field == 4) break;
        } else if (c >= '0' && c <= '9') {
            // The entry refuses values above 255; clamp anyway, as the classic control does.
            fields[field] = std::min(255u, fields[field] * 10 + static_cast<unsigned>(c - '0'));
        }
    }
    return std::to_string(fields[0]) + "." + std::to_string(fields[1]) + "." +
           std::to_string(fields[2]) + "." + std::to_string(fields[3]);
}

DialogWindow::DialogWindow(const DialogTemplate& tmpl, CommandSink on_command)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      tmpl_(tmpl),
      on_command_(std::move(on_command)) {
    setObjectName(QStringLiteral("dialog_%1").arg(tmpl.id));
    QFont font = dialog_font(tmpl.font, tmpl.font_points);
    setFont(font);
    units_ = dialog_units(font);
    setWindowTitle(to_qstring(tmpl.caption, false));
    // No icon of its own: every window shows the application's, decoded once, where a
    // fresh icon per dialog would decode its images again as the dialog first shows.
    setSizeGripEnabled(false);
    // The template gives the client area; the frame is the window system's.
    setFixedSize(units_.x(tmpl.width), units_.y(tmpl.height));
    move(units_.x(tmpl.x), units_.y(tmpl.y));

    int index = 0;
    for (const auto& c : tmpl.controls) {
        if (c.id != NO_CONTROL_ID) {
            if (controls_.count(c.id)) fatal("a template carries one control id twice");
        }
        QWidget* w = build_control(c);
        if (c.id != NO_CONTROL_ID) {
            controls_[c.id] = w;
            control_templates_[c.id] = &c;
            w->setObjectName(QStringLiteral("control_%1").arg(c.id));
        } else {
            w->setObjectName(QStringLiteral("static_%1").arg(index));
        }
        if (c.label) w->setAccessibleName(QString::fromUtf8(c.label));
        ++index;
    }
}

QWidget* DialogWindow::build_control(const ControlTemplate& c) {
    // Width and height convert on their own, not as right minus left, as the dialog manager
    // sizes a template's controls.
    const QRect r(units_.x(c.x), units_.y(c.y), units_.x(c.width), units_.y(c.height));
    const bool tab_stop = (c.style & STYLE_TAB_STOP) != 0;
    const bool read_only = (c.style & STYLE_READ_ONLY) != 0;
    QWidget* w = nullptr;
    switch (c.kind) {
        case ControlKind::PushButton: {
            auto* b = new QPushButton(QString::fromUtf8(c.text), this);
            // A focused button is the one Enter presses, as in classic dialogs.
            b->setAutoDefault(true);
            b->setDefault((c.style & STYLE_DEFAULT_BUTTON) != 0);
            connect(b, &QPushButton::clicked, this, [this, id = c.id] { on_command_(id); });
            w = b;
            break;
        }
        case ControlKind::Edit:
            if (c.style & STYLE_MULTILINE) {
                auto* e = new QPlainTextEdit(this);
                e->setReadOnly(read_only);
                // The texts carry their own line breaks; nothing else breaks a line.
                e->setLineWrapMode(QPlainTextEdit::NoWrap);
                e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                e->setVerticalScrollBarPolicy((c.style & STYLE_VSCROLL) ? Qt::ScrollBarAsNeeded
                                                                        : Qt::ScrollBarAlwaysOff);
                if (!(c.style & STYLE_BORDER)) e->setFrameShape(QFrame::NoFrame);
                e->setTabChangesFocus(true);
                // Lines start at the top edge and follow each other at the font's height, as
                // in classic edits: the password explanation's 19 lines fill its box exactly.
                e->document()->setDocumentMargin(0);
                if (read_only) {
                    e->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                               Qt::TextSelectableByKeyboard);
                    read_only_background(e);
                    e->viewport()->setAutoFillBackground(false);
                }
                w = e;
            } else {
                auto* e = new QLineEdit(this);
                e->setReadOnly(read_only);
                e->setFrame((c.style & STYLE_BORDER) != 0);
                if (c.style & STYLE_PASSWORD) e->setEchoMode(QLineEdit::Password);
                e->setAlignment(horizontal_alignment(c.style) | Qt::AlignVCenter);
                if (read_only) read_only_background(e);
                w = e;
            }
            w->setFocusPolicy(tab_stop ? Qt::StrongFocus : Qt::ClickFocus);
            break;
        case ControlKind::StaticText: {
            auto* l = new QLabel(this);
            l->setTextFormat(Qt::PlainText);
            l->setText(to_qstring(c.text, true));
            // Static texts break their words at the control's width, as classic ones do.
            l->setWordWrap(true);
            l->setAlignment(horizontal_alignment(c.style) | Qt::AlignTop);
            w = l;
            break;
        }
        case ControlKind::ProgressBar: {
            auto* p = new QProgressBar(this);
            p->setTextVisible(false);
            p->setRange(0, 100);
            p->setValue(0);
            w = p;
            break;
        }
        case ControlKind::DropDownList: {
            auto* box = new QComboBox(this);
            box->setEditable(false);
            box->setFocusPolicy(tab_stop ? Qt::StrongFocus : Qt::ClickFocus);
            // The template's height is that of the open list; the closed box is one line.
            box->setGeometry(r.x(), r.y(), r.width(), box->sizeHint().height());
            return box;
        }
        case ControlKind::Icon: {
            auto* l = new QLabel(this);
            // The program carries only its own icon; any other number shows nothing.
            if (std::strcmp(c.text, PROGRAM_ICON_ID) == 0) {
                l->setPixmap(QApplication::windowIcon().pixmap(ICON_SIZE, ICON_SIZE));
            }
            l->setGeometry(r.x(), r.y(), ICON_SIZE, ICON_SIZE);
            return l;
        }
        case ControlKind::IpAddress: {
            auto* e = new QLineEdit(this);
            e->setValidator(new QRegularExpressionValidator(
                QRegularExpression(QString::fromLatin1(IPV4_PATTERN)), e));
            e->setMaxLength(15);
            e->setFocusPolicy(tab_stop ? Qt::StrongFocus : Qt::ClickFocus);
            w = e;
            break;
        }
    }
    w->setGeometry(r);
    return w;
}

QWidget* DialogWindow::control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

const ControlTemplate* DialogWindow::control_template(int id) const {
    auto it = control_templates_.find(id);
    return it == control_templates_.end() ? nullptr : it->second;
}

void DialogWindow::set_text(int id, std::string_view text) {
    QWidget* w = control(id);
    if (!w) return;
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
        e->setPlainText(to_qstring(text, true));
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(to_qstring(text, false));
        e->setCursorPosition(0);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(to_qstring(text, true));
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        b->setText(to_qstring(text, false));
    }
}

std::string DialogWindow::text(int id) const {
    QWidget* w = control(id);
    const ControlTemplate* c = control_template(id);
    if (!w || !c) return {};
    if (c->kind == ControlKind::IpAddress) {
        return dotted_form(from_qstring(static_cast<QLineEdit*>(w)->text(), false));
    }
    if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return from_qstring(e->toPlainText(), true);
    if (auto* e = qobject_cast<QLineEdit*>(w)) return from_qstring(e->text(), false);
    if (auto* l = qobject_cast<QLabel*>(w)) return from_qstring(l->text(), true);
    if (auto* b = qobject_cast<QPushButton*>(w)) return from_qstring(b->text(), false);
    if (auto* box = qobject_cast<QComboBox*>(w)) return from_qstring(box->currentText(), false);
    return {};
}

void DialogWindow::focus_control(int id) {
    if (QWidget* w = control(id)) {
        w->setFocus(Qt::OtherFocusReason);
        if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
    }
}

void DialogWindow::focus_first_tab_stop() {
    for (const auto& c : tmpl_.controls) {
        if ((c.style & STYLE_TAB_STOP) && c.id != NO_CONTROL_ID) {
            focus_control(c.id);
            return;
        }
    }
}

void DialogWindow::set_progress_range(int id, int low, int high) {
    if (auto* p = qobject_cast<QProgressBar*>(control(id))) {
        p->setRange(low, std::max(low, high));
        p->setValue(std::clamp(p->value(), p->minimum(), p->maximum()));
    }
}

void DialogWindow::set_progress_pos(int id, int pos) {
    // Qt ignores a value outside the range; the classic bar clamps it.
    if (auto* p = qobject_cast<QProgressBar*>(control(id))) {
        p->setValue(std::clamp(pos, p->minimum(), p->maximum()));
    }
}

void DialogWindow::list_add(int id, std::string_view text) {
    if (auto* box = qobject_cast<QComboBox*>(control(id))) {
        // Appending selects nothing: Qt would select the first entry of an empty list.
        int selected = box->currentIndex();
        box->addItem(to_qstring(text, false));
        box->setCurrentIndex(selected);
    }
}

void DialogWindow::list_select(int id, int index) {
    if (auto* box = qobject_cast<QComboBox*>(control(id))) {
        box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
    }
}

int DialogWindow::list_selected(int id) const {
    if (auto* box = qobject_cast<QComboBox*>(control(id))) return box->currentIndex();
    return -1;
}

void DialogWindow::reject() {
    on_command_(ID_CANCEL);
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    // The close box is a Cancel command; only the dialog's procedure decides what closes.
    event->ignore();
    on_command_(ID_CANCEL);
}

}  // namespace zoq::qt
