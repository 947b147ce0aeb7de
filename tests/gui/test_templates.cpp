// SPDX-License-Identifier: MIT
// Every template on Qt: caption, controls, places in dialog units, texts that fit, keyboard.
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <memory>

#include "app/firmware.h"
#include "app/state.h"
#include "app/workflow.h"
#include "common/text.h"
#include "gui_support.h"
#include "res/templates.h"
#include "res/texts.h"
#include "ui/confirm.h"
#include "ui/helpers.h"

using namespace zoq;
using zoq::test::Recorder;
using zoq::test::recorder_proc;

namespace {

// Dialog units to pixels as a classic dialog manager converts them, computed here from the
// window's own font so that a wrong font or a wrong formula in the backend shows.
struct Units {
    int cw, ch;
    explicit Units(const QFont& font) {
        QFontMetrics fm(font);
        cw = (fm.horizontalAdvance(
                  QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                  26 +
              1) /
             2;
        ch = fm.height();
    }
    int x(int du) const { return (du * cw + 2) / 4; }
    int y(int du) const { return (du * ch + 4) / 8; }
    QRect rect(const ControlTemplate& c) const { return {x(c.x), y(c.y), x(c.width), y(c.height)}; }
};

QWidget* control_widget(QWidget* window, const DialogTemplate& t, std::size_t index) {
    const ControlTemplate& c = t.controls[index];
    QString name = c.id != NO_CONTROL_ID ? QStringLiteral("control_%1").arg(c.id)
                                         : QStringLiteral("static_%1").arg(index);
    return window->findChild<QWidget*>(name);
}

int control_id_of(QWidget* w) {
    if (!w) return 0;
    QString name = w->objectName();
    return name.startsWith(QStringLiteral("control_")) ? name.mid(8).toInt() : 0;
}

QWidget* focus_of(QWidget* window) {
    QWidget* f = QApplication::focusWidget();
    return f && f->window() == window ? f : window->focusWidget();
}

void add_template_rows() {
    QTest::addColumn<int>("template_id");
    for (const auto& t : all_templates()) {
        QTest::newRow(QByteArray::number(t.id).constData()) << t.id;
    }
}

}  // namespace

class TemplateTests : public QObject {
    Q_OBJECT

  private slots:
    void every_template_builds_data() { add_template_rows(); }
    void every_template_builds() {
        QFETCH(int, template_id);
        const DialogTemplate& t = *find_template(template_id);
        QtToolkit ui;
        Recorder r;
        DialogHandle h = ui.create_dialog(template_id, recorder_proc, &r);
        QWidget* w = test::wait_for_dialog(ui, template_id);
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QString::fromUtf8(t.caption));
        QCOMPARE(w->font().pointSize(), t.font_points);
        QVERIFY(!w->windowIcon().isNull());
        Units u(w->font());
        QVERIFY(u.cw >= 4 && u.cw <= 12);
        QCOMPARE(w->size(), QSize(u.x(t.width), u.y(t.height)));

        for (std::size_t i = 0; i < t.controls.size(); ++i) {
            const ControlTemplate& c = t.controls[i];
            QWidget* cw = control_widget(w, t, i);
            QVERIFY2(cw, qPrintable(QStringLiteral("control %1 missing").arg(c.id)));
            const QRect rect = u.rect(c);
            if (c.label) QCOMPARE(cw->accessibleName(), QString::fromUtf8(c.label));
            const bool tab_stop = (cw->focusPolicy() & Qt::TabFocus) != 0;
            switch (c.kind) {
                case ControlKind::PushButton: {
                    auto* b = qobject_cast<QPushButton*>(cw);
                    QVERIFY(b);
                    QCOMPARE(b->text(), QString::fromUtf8(c.text));
                    QCOMPARE(b->geometry(), rect);
                    QVERIFY(tab_stop);
                    break;
                }
                case ControlKind::Edit:
                    if (c.style & STYLE_MULTILINE) {
                        auto* e = qobject_cast<QPlainTextEdit*>(cw);
                        QVERIFY(e);
                        QCOMPARE(e->isReadOnly(), (c.style & STYLE_READ_ONLY) != 0);
                        QCOMPARE(e->frameShape() != QFrame::NoFrame, (c.style & STYLE_BORDER) != 0);
                        QCOMPARE(e->lineWrapMode(), QPlainTextEdit::NoWrap);
                    } else {
                        auto* e = qobject_cast<QLineEdit*>(cw);
                        QVERIFY(e);
                        QCOMPARE(e->isReadOnly(), (c.style & STYLE_READ_ONLY) != 0);
                        QCOMPARE(e->hasFrame(), (c.style & STYLE_BORDER) != 0);
                        // Whatever the table says, what is typed as the password never shows.
                        const bool password = template_id == IDD_PASSWORD && c.id == IDC_PASSWORD;
                        QCOMPARE(e->echoMode() == QLineEdit::Password, password);
                    }
                    QCOMPARE(cw->geometry(), rect);
                    QCOMPARE(tab_stop, (c.style & STYLE_TAB_STOP) != 0);
                    break;
                case ControlKind::StaticText: {
                    auto* l = qobject_cast<QLabel*>(cw);
                    QVERIFY(l);
                    QCOMPARE(l->text(), QString::fromUtf8(c.text));
                    Qt::Alignment want = (c.style & STYLE_ALIGN_RIGHT)    ? Qt::AlignRight
                                         : (c.style & STYLE_ALIGN_CENTER) ? Qt::AlignHCenter
                                                                          : Qt::AlignLeft;
                    QCOMPARE(l->alignment() & Qt::AlignHorizontal_Mask, want);
                    QCOMPARE(l->geometry(), rect);
                    break;
                }
                case ControlKind::ProgressBar:
                    QVERIFY(qobject_cast<QProgressBar*>(cw));
                    QCOMPARE(cw->geometry(), rect);
                    break;
                case ControlKind::DropDownList: {
                    auto* box = qobject_cast<QComboBox*>(cw);
                    QVERIFY(box);
                    QVERIFY(!box->isEditable());
                    // The template's height is the open list's; the closed box is one line.
                    QCOMPARE(box->pos(), rect.topLeft());
                    QCOMPARE(box->width(), rect.width());
                    QVERIFY(tab_stop);
                    break;
                }
                case ControlKind::Icon: {
                    auto* l = qobject_cast<QLabel*>(cw);
                    QVERIFY(l);
                    QCOMPARE(l->pos(), rect.topLeft());
                    // Only the program's own icon (286) exists; 106 shows nothing.
                    QCOMPARE(!l->pixmap().isNull(), std::strcmp(c.text, "286") == 0);
                    break;
                }
                case ControlKind::IpAddress: {
                    auto* e = qobject_cast<QLineEdit*>(cw);
                    QVERIFY(e && e->validator());
                    QCOMPARE(e->geometry(), rect);
                    QVERIFY(tab_stop);
                    break;
                }
            }
        }
        ui.destroy_dialog(h);
        QVERIFY(!ui.window_of(h));
    }

    // The long texts in the controls they are made for: no line is cut at the side, no line
    // falls off the bottom; static texts wrap within their boxes.
    void long_texts_fit_data() {
        QTest::addColumn<int>("template_id");
        QTest::addColumn<int>("control");
        QTest::addColumn<QString>("text");
        auto row = [](const char* name, int t, int c, const char* text) {
            QTest::newRow(name) << t << c << QString::fromUtf8(text);
        };
        row("notice warning", IDD_NOTICE, IDC_WARNING, NOTICE_WARNING_TEXT);
        row("address intro", IDD_ADDRESS, IDC_INTRO, ADDRESS_INTRO_TEXT);
        row("adapter instructions", IDD_ADDRESS, IDC_INSTRUCTIONS, ADAPTER_INSTRUCTIONS_TEXT);
        row("phone instructions", IDD_ADDRESS_PHONE, IDC_INSTRUCTIONS, PHONE_INSTRUCTIONS_TEXT);
        row("version line", IDD_ADDRESS, IDC_VERSION_LINE, "Version 5.2.13(004)");
        row("confirm intro", IDD_CONFIRM, IDC_INTRO, CONFIRM_INTRO_TEXT);
        row("password explanation", IDD_PASSWORD, IDC_INTRO, PASSWORD_EXPLANATION_TEXT);
        row("waiting instructions", IDD_WAITING, IDC_WAIT_TEXT, TFTP_INSTRUCTION_TEXT);
        row("success", IDD_SUCCESS, IDC_INTRO, SUCCESS_TEXT);
        row("success alt", IDD_SUCCESS_ALT, IDC_INTRO, SUCCESS_TEXT);
        // Static texts of the templates themselves (control 0: every static text).
        for (const auto& t : all_templates()) {
            QTest::newRow(qPrintable(QStringLiteral("statics of %1").arg(t.id)))
                << t.id << 0 << QString();
        }
    }
    void long_texts_fit() {
        QFETCH(int, template_id);
        QFETCH(int, control);
        QFETCH(QString, text);
        QtToolkit ui;
        Recorder r;
        DialogHandle h = ui.create_dialog(template_id, recorder_proc, &r);
        if (control) ui.set_item_text(h, control, text.toStdString());
        QWidget* w = test::wait_for_dialog(ui, template_id);
        QVERIFY(w);
        QList<QWidget*> targets;
        if (control) {
            targets << w->findChild<QWidget*>(QStringLiteral("control_%1").arg(control));
        } else {
            for (QLabel* l : w->findChildren<QLabel*>()) {
                if (!l->text().isEmpty()) targets << l;
            }
            for (QPushButton* b : w->findChildren<QPushButton*>()) targets << b;
        }
        for (QWidget* cw : targets) {
            QVERIFY(cw);
            QFontMetrics fm(cw->font());
            if (auto* e = qobject_cast<QPlainTextEdit*>(cw)) {
                const int margin = 2 * static_cast<int>(e->document()->documentMargin());
                const QStringList lines = e->toPlainText().split(QLatin1Char('\n'));
                for (const QString& line : lines) {
                    QVERIFY2(fm.horizontalAdvance(line) + margin <= e->viewport()->width(),
                             qPrintable(QStringLiteral("cut at the side: ") + line));
                }
                QVERIFY2(lines.size() * fm.lineSpacing() + margin <= e->viewport()->height(),
                         "lines fall off the bottom");
            } else if (auto* l = qobject_cast<QLabel*>(cw)) {
                QVERIFY2(l->heightForWidth(l->width()) <= l->height(),
                         qPrintable(QStringLiteral("label cut: ") + l->text()));
                for (const QString& word :
                     l->text().split(QRegularExpression(QStringLiteral("\\s+")))) {
                    QVERIFY2(fm.horizontalAdvance(word) <= l->width(), qPrintable(word));
                }
            } else if (auto* le = qobject_cast<QLineEdit*>(cw)) {
                QVERIFY2(fm.horizontalAdvance(le->text()) < le->width(), qPrintable(le->text()));
            } else if (auto* b = qobject_cast<QPushButton*>(cw)) {
                QVERIFY2(fm.horizontalAdvance(b->text()) < b->width() - 4, qPrintable(b->text()));
            }
        }
        ui.destroy_dialog(h);
    }

    // key: Qt key, or 0 for the window's close box. focus: control, or 0 for the dialog
    // manager's choice (the first tab stop).
    void keyboard_commands_data() {
        QTest::addColumn<int>("template_id");
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("command");
        auto row = [](const char* name, int t, int focus, int key, int command) {
            QTest::newRow(name) << t << focus << key << command;
        };
        row("notice: Enter on Cancel", IDD_NOTICE, ID_CANCEL, Qt::Key_Return, ID_CANCEL);
        row("notice: Enter on Continue", IDD_NOTICE, 0, Qt::Key_Return, ID_OK);
        row("notice: Enter in the warning", IDD_NOTICE, IDC_WARNING, Qt::Key_Return, ID_CANCEL);
        row("notice: Escape", IDD_NOTICE, ID_CANCEL, Qt::Key_Escape, ID_CANCEL);
        row("notice: close box", IDD_NOTICE, 0, 0, ID_CANCEL);
        row("address: Enter in the address", IDD_ADDRESS, IDC_IP_ADDRESS, Qt::Key_Return, ID_OK);
        row("address: keypad Enter", IDD_ADDRESS, IDC_IP_ADDRESS, Qt::Key_Enter, ID_OK);
        row("address: Escape in the list", IDD_ADDRESS, IDC_LOCAL_IPS, Qt::Key_Escape, ID_CANCEL);
        row("phone address: close box", IDD_ADDRESS_PHONE, IDC_IP_ADDRESS, 0, ID_CANCEL);
        row("confirm: Enter in a field", IDD_CONFIRM, IDC_SW_VERSION, Qt::Key_Return, ID_OK);
        row("confirm: Escape", IDD_CONFIRM, 0, Qt::Key_Escape, ID_CANCEL);
        row("password: Enter in the password", IDD_PASSWORD, IDC_PASSWORD, Qt::Key_Return, ID_OK);
        row("password: Enter in the user", IDD_PASSWORD, IDC_USERNAME, Qt::Key_Return, ID_OK);
        row("password: Escape in the user", IDD_PASSWORD, IDC_USERNAME, Qt::Key_Escape, ID_CANCEL);
        row("progress: Enter on Cancel", IDD_PROGRESS, 0, Qt::Key_Return, ID_CANCEL);
        row("progress: close box", IDD_PROGRESS, 0, 0, ID_CANCEL);
        row("waiting: Escape", IDD_WAITING, 0, Qt::Key_Escape, ID_CANCEL);
        row("uploading: close box", IDD_UPLOADING, 0, 0, ID_CANCEL);
        row("success: Enter", IDD_SUCCESS, 0, Qt::Key_Return, ID_OK);
        row("success alt: Escape", IDD_SUCCESS_ALT, 0, Qt::Key_Escape, ID_CANCEL);
    }
    void keyboard_commands() {
        QFETCH(int, template_id);
        QFETCH(int, focus);
        QFETCH(int, key);
        QFETCH(int, command);
        QtToolkit ui;
        Recorder r;
        r.default_focus = focus == 0;
        if (focus) r.on_open = [focus](Toolkit& t, DialogHandle d) { t.set_focus(d, focus); };
        DialogHandle h = ui.create_dialog(template_id, recorder_proc, &r);
        QWidget* w = test::wait_for_dialog(ui, template_id);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        if (focus) QCOMPARE(control_id_of(focus_of(w)), focus);
        if (key) {
            QTest::keyClick(focus_of(w), static_cast<Qt::Key>(key),
                            key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        } else {
            w->close();
        }
        QVERIFY(test::wait_until([&] { return r.commands().size() == 2; }));
        QCOMPARE(r.commands(), (std::vector<int>{0, command}));
        // Neither Escape nor the close box closes the dialog: its procedure decides.
        QVERIFY(w->isVisible());
        ui.destroy_dialog(h);
    }

    void tab_order_data() {
        QTest::addColumn<int>("template_id");
        QTest::addColumn<QList<int>>("stops");
        QTest::newRow("notice") << IDD_NOTICE << QList<int>{1, 2};
        QTest::newRow("address") << IDD_ADDRESS << QList<int>{1, 2, 1017, 1000};
        QTest::newRow("confirm") << IDD_CONFIRM << QList<int>{1, 2, 1002, 1003, 1004, 1005, 1006};
        QTest::newRow("password") << IDD_PASSWORD << QList<int>{1, 2, 1003, 1005};
        QTest::newRow("success") << IDD_SUCCESS << QList<int>{1};
    }
    void tab_order() {
        QFETCH(int, template_id);
        QFETCH(QList<int>, stops);
        QtToolkit ui;
        Recorder r;
        DialogHandle h = ui.create_dialog(template_id, recorder_proc, &r);
        QWidget* w = test::wait_for_dialog(ui, template_id);
        QVERIFY(w);
        QVERIFY(QTest::qWaitForWindowActive(w));
        QList<int> seen{control_id_of(focus_of(w))};
        for (int i = 0; i < stops.size(); ++i) {
            QTest::keyClick(focus_of(w), Qt::Key_Tab);
            seen << control_id_of(focus_of(w));
        }
        QCOMPARE(seen, stops + QList<int>{stops.first()});
        ui.destroy_dialog(h);
    }

    void ip_entry_reads_dotted_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("reads");
        QTest::newRow("device") << "127.0.0.2"
                                << "127.0.0.2";
        QTest::newRow("nothing") << ""
                                 << "0.0.0.0";
        QTest::newRow("leading zeros") << "010.001.000.001"
                                       << "10.1.0.1";
        QTest::newRow("two fields") << "10.1"
                                    << "10.1.0.0";
        QTest::newRow("above 255 refused") << "300"
                                           << "30.0.0.0";
        QTest::newRow("fifth field refused") << "1.2.3.4.5"
                                             << "1.2.3.45";
        QTest::newRow("letters refused") << "a1b.2c"
                                         << "1.2.0.0";
        QTest::newRow("largest") << "255.255.255.255"
                                 << "255.255.255.255";
    }
    void ip_entry_reads_dotted() {
        QFETCH(QString, typed);
        QFETCH(QString, reads);
        QtToolkit ui;
        Recorder r;
        DialogHandle h = ui.create_dialog(IDD_ADDRESS, recorder_proc, &r);
        QWidget* w = test::wait_for_dialog(ui, IDD_ADDRESS);
        QVERIFY(w);
        auto* e = w->findChild<QLineEdit*>(QStringLiteral("control_1000"));
        QVERIFY(e);
        QTest::keyClicks(e, typed);
        QCOMPARE(QString::fromStdString(ui.get_item_text(h, IDC_IP_ADDRESS)), reads);
        ui.destroy_dialog(h);
    }

    // Device values are bytes as the device sent them: UTF-8 where they are UTF-8, and one
    // character per byte (Latin-1) where they are not, never replacement characters.
    void device_values_keep_their_bytes() {
        QtToolkit ui;
        ConfirmDetails details{"5.2.13(004)",
                               "Caf\xc3\xa9",        // serial number: Latin-1's text in UTF-8
                               "\xc3\x28\xff-\x80",  // MAC address: broken sequences
                               "\xed\xa0\x80",       // software version: a UTF-16 half
                               "\xe2\x82\xac 1",     // hardware version: valid, 3 bytes
                               "Caf\xe9"};           // product name: Latin-1 alone
        DialogHandle h = ui.create_dialog(IDD_CONFIRM, confirm_dialog_proc, &details);
        QWidget* w = test::wait_for_dialog(ui, IDD_CONFIRM);
        QVERIFY(w);
        auto shown = [&](int id) {
            return w->findChild<QLineEdit*>(QStringLiteral("control_%1").arg(id))->text();
        };
        const QString cafe = QStringLiteral("Caf") + QChar(0xe9);
        QCOMPARE(shown(IDC_PRODUCT), cafe);
        QCOMPARE(shown(IDC_SERIAL), cafe);
        QCOMPARE(shown(IDC_MAC), QString::fromUtf16(u"\u00c3(\u00ff-\u0080"));
        QCOMPARE(shown(IDC_HW_VERSION), QString::fromUtf16(u"\u20ac 1"));
        QCOMPARE(shown(IDC_SW_VERSION), QString::fromUtf16(u"\u00ed\u00a0\u0080"));
        // Captions and message texts take the same way.
        ui.set_caption(h, "ZOQ@Caf\xe9");
        QCOMPARE(w->windowTitle(), QStringLiteral("ZOQ@") + cafe);
        ui.destroy_dialog(h);
    }

    void controls_behave() {
        QtToolkit ui;
        Recorder r;
        DialogHandle h = ui.create_dialog(IDD_ADDRESS, recorder_proc, &r);
        QWidget* w = test::wait_for_dialog(ui, IDD_ADDRESS);
        QVERIFY(w);
        // The list keeps insertion order and selects nothing until told.
        for (const char* ip : {"192.168.1.20", "10.0.0.5", "127.0.0.1"}) {
            ui.list_add(h, IDC_LOCAL_IPS, ip);
        }
        auto* box = w->findChild<QComboBox*>(QStringLiteral("control_1017"));
        QCOMPARE(box->count(), 3);
        QCOMPARE(box->itemText(0), QStringLiteral("192.168.1.20"));
        QCOMPARE(box->itemText(2), QStringLiteral("127.0.0.1"));
        QCOMPARE(ui.list_selected(h, IDC_LOCAL_IPS), -1);
        ui.list_select(h, IDC_LOCAL_IPS, 2);
        QCOMPARE(ui.list_selected(h, IDC_LOCAL_IPS), 2);
        ui.list_select(h, IDC_LOCAL_IPS, 3);
        QCOMPARE(ui.list_selected(h, IDC_LOCAL_IPS), -1);
        // CR LF are line breaks on screen and come back as CR LF.
        ui.set_item_text(h, IDC_INSTRUCTIONS, "one\r\n\r\nthree");
        auto* e = w->findChild<QPlainTextEdit*>(QStringLiteral("control_1008"));
        QCOMPARE(e->document()->blockCount(), 3);
        QCOMPARE(ui.get_item_text(h, IDC_INSTRUCTIONS), std::string("one\r\n\r\nthree"));
        ui.set_caption(h, "ZOQ-4502 Firmware Upgrade");
        QCOMPARE(w->windowTitle(), QStringLiteral("ZOQ-4502 Firmware Upgrade"));
        // Bytes that are not UTF-8 neither crash nor vanish whole.
        ui.set_item_text(h, IDC_VERSION_LINE,
                         std::string("V\xff\xfe"
                                     "1",
                                     4));
        QCOMPARE(ui.get_item_text(h, IDC_VERSION_LINE).front(), 'V');
        ui.set_item_text(h, 4242, "no such control");
        QCOMPARE(ui.get_item_text(h, 4242), std::string());
        ui.destroy_dialog(h);
        // A gone dialog answers nothing and breaks nothing.
        QCOMPARE(ui.get_item_text(h, IDC_INTRO), std::string());
        QCOMPARE(ui.list_selected(h, IDC_LOCAL_IPS), -1);
        WindowRect rect;
        QVERIFY(!ui.get_window_rect(h, rect));
        QCOMPARE(ui.pump(h, true), 0);

        // Progress positions outside the range are clamped, as the classic bar does.
        DialogHandle p = ui.create_dialog(IDD_WAITING, recorder_proc, &r);
        QWidget* pw = test::wait_for_dialog(ui, IDD_WAITING);
        auto* bar = pw->findChild<QProgressBar*>(QStringLiteral("control_1010"));
        ui.progress_set_range(p, IDC_PROGRESS, 0, 1000);
        ui.progress_set_pos(p, IDC_PROGRESS, 1500);
        QCOMPARE(bar->value(), 1000);
        ui.progress_set_pos(p, IDC_PROGRESS, -3);
        QCOMPARE(bar->value(), 0);
        ui.progress_set_pos(p, IDC_PROGRESS, 500);
        QCOMPARE(bar->value(), 500);
        ui.destroy_dialog(p);

        QCOMPARE(ui.dialog_box(4242, recorder_proc, &r), -1);
        QCOMPARE(ui.create_dialog(4242, recorder_proc, &r), NO_DIALOG);
    }

    void center_window_centres() {
        QtToolkit ui;
        Recorder r;
        DialogHandle h = ui.create_dialog(IDD_UPLOADING, recorder_proc, &r);
        QWidget* w = test::wait_for_dialog(ui, IDD_UPLOADING);
        QVERIFY(w);
        WindowRect before;
        QVERIFY(ui.get_window_rect(h, before));
        center_window(ui, h);
        WindowRect after;
        QVERIFY(ui.get_window_rect(h, after));
        ScreenSize screen = ui.screen_size();
        QCOMPARE(screen.width, QGuiApplication::primaryScreen()->geometry().width());
        QCOMPARE(after.right - after.left, before.right - before.left);
        QCOMPARE(after.bottom - after.top, before.bottom - before.top);
        QCOMPARE(after.left, (screen.width - (after.right - after.left)) >> 1);
        QCOMPARE(after.top, (screen.height - (after.bottom - after.top)) >> 1);
        ui.destroy_dialog(h);
    }

    // OK only, no icon, the caption given, and the calling thread's dialogs disabled while
    // it shows; they come back afterwards.
    void message_box_is_task_modal() {
        QtToolkit ui;
        Recorder r;
        DialogHandle a = ui.create_dialog(IDD_WAITING, recorder_proc, &r);
        QWidget* aw = test::wait_for_dialog(ui, IDD_WAITING);
        QVERIFY(aw);
        bool checked = false;
        QTimer::singleShot(0, [&] {
            QMessageBox* box = nullptr;
            test::wait_until([&] { return (box = test::visible_message_box()) != nullptr; });
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QStringLiteral("ZOQ Firwmare Upgrade Error"));
            QCOMPARE(box->text(), QStringLiteral("Upgrade Failed: User Abort"));
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            QCOMPARE(box->buttons().size(), 1);
            QCOMPARE(box->buttons().front()->text(), QStringLiteral("OK"));
            QVERIFY(!aw->isEnabled());
            checked = true;
            QTest::keyClick(box, Qt::Key_Return);
        });
        show_error(ui, MSG_USER_ABORT);
        QVERIFY(checked);
        QVERIFY(test::wait_until([&] { return aw->isEnabled(); }));
        QVERIFY(!test::visible_message_box());
        ui.destroy_dialog(a);
    }

    // The real notice procedure: Enter at once chooses Cancel; Continue gives 1.
    void notice_enter_chooses_cancel() {
        QtToolkit ui;
        UpgradeState state{};
        state.instance = &ui;
        copy_text(state.model_name.data(), state.model_name.size(), "ZOQ-4502");
        QString caption;
        QTimer::singleShot(0, [&] {
            QWidget* w = test::wait_for_dialog(ui, IDD_NOTICE);
            QVERIFY(w && QTest::qWaitForWindowActive(w));
            caption = w->windowTitle();
            QTest::keyClick(focus_of(w), Qt::Key_Return);
        });
        QCOMPARE(show_notice(ui, state), 0);
        QCOMPARE(caption, QStringLiteral("ZOQ-4502 Firmware Upgrade"));

        QTimer::singleShot(0, [&] {
            QWidget* w = test::wait_for_dialog(ui, IDD_NOTICE);
            QVERIFY(w);
            QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("control_1")),
                              Qt::LeftButton);
        });
        QCOMPARE(show_notice(ui, state), 1);
        QVERIFY(ui.find_dialog(IDD_NOTICE) == NO_DIALOG);
    }
};

QTEST_MAIN(TemplateTests)
#include "test_templates.moc"
