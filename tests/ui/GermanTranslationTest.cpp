// The program in German, with the translations installed as it installs them: every text a
// user sees in the dialog, the panel under More, the About box, the preview's menu and a
// question is German, and shown whole.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QXmlStreamReader>

#include "AboutDialog.h"
#include "AppTranslations.h"
#include "DialogTestFixture.h"
#include "PreviewWindow.h"
#include "QMessageBoxMessages.h"

namespace {

struct Message {
    QString context, source, translation;
    bool finished = false;
};

// The German translation as kept in the sources, read as a translator's tool reads it.
std::vector<Message> ReadGermanSource() {
    std::vector<Message> messages;
    QFile file(QStringLiteral(ORVANE_GERMAN_TS));
    if (!file.open(QIODevice::ReadOnly)) {
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement()) {
            continue;
        }
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"message") {
            messages.push_back({context, {}, {}, false});
        } else if (xml.name() == u"source" && !messages.empty()) {
            messages.back().source = xml.readElementText();
        } else if (xml.name() == u"translation" && !messages.empty()) {
            const QStringView type = xml.attributes().value(QLatin1String("type"));
            messages.back().finished = type.isEmpty();
            messages.back().translation = xml.readElementText();
        }
    }
    return messages;
}

QString WithoutMnemonic(const QString& text) {
    return QString(text).replace(QRegularExpression("&(.)"), "\\1");
}

bool HasWords(const QString& text) {
    return text.contains(QRegularExpression("[A-Za-zÄÖÜäöüß]{2,}"));
}

// What a control shows, and the room its style gives the text; -1 where it shows none.
struct Shown {
    QString text;
    int needed = 0;
    int room = -1;
};

Shown ShownBy(QWidget* w) {
    Shown shown;
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        shown.text = button->text();
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = shown.text;
        shown.room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        shown.needed = button->fontMetrics().horizontalAdvance(WithoutMnemonic(shown.text));
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        shown.text = box->text();
        shown.room = box->width();
        shown.needed = box->sizeHint().width();
    } else if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && !label->wordWrap()) {
        shown.text = label->text();
        shown.room = label->contentsRect().width() - 2 * label->margin();
        for (const QString& line : shown.text.split('\n')) {
            shown.needed = std::max(shown.needed, label->fontMetrics().horizontalAdvance(line));
        }
    }
    return shown;
}

class GermanTranslation : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        for (const Message& m : ReadGermanSource()) {
            // A placeholder stands for whatever the program fills in.
            QStringList parts = m.translation.split(QRegularExpression("%\\d"));
            for (QString& part : parts) {
                part = QRegularExpression::escape(part);
            }
            german.emplace_back(QRegularExpression::anchoredPattern(parts.join(".+")));
        }
        ASSERT_GT(german.size(), 50u) << "cannot read " << ORVANE_GERMAN_TS;
        translations =
            std::make_unique<AppTranslations>(QLocale(QLocale::German, QLocale::Germany));
        // Built with the program: a build without it is a broken build, not a skipped test.
        ASSERT_TRUE(translations->HasOwn())
            << "no orvane_de.qm in "
            << AppTranslations::FolderFor(QCoreApplication::applicationDirPath()).toStdString();
    }
    void TearDown() override {
        DialogTestFixture::TearDown();
        translations.reset();
    }

    // Every visible text under root is a German text of the translation, and fits. The info
    // line and the track list show the file's own names.
    void ExpectGermanAndWhole(QWidget* root) {
        int checked = 0;
        for (QWidget* w : root->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(root) || w->objectName() == "infoLabel" ||
                w->objectName() == "trackBox") {
                continue;
            }
            const QString where =
                w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName();
            SCOPED_TRACE(where.toStdString());
            if (auto* combo = qobject_cast<QComboBox*>(w)) {
                QStyleOptionComboBox option;
                option.initFrom(combo);
                const int room = combo->style()
                                     ->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, combo)
                                     .width();
                for (int i = 0; i < combo->count(); ++i) {
                    const QString item = combo->itemText(i);
                    if (HasWords(item)) {
                        EXPECT_TRUE(IsGerman(item)) << item.toStdString();
                        EXPECT_LE(combo->fontMetrics().horizontalAdvance(item), room)
                            << item.toStdString();
                        ++checked;
                    }
                }
                continue;
            }
            const Shown shown = ShownBy(w);
            if (shown.room < 0 || !HasWords(shown.text)) {
                continue;
            }
            EXPECT_TRUE(IsGerman(shown.text)) << "not German: " << shown.text.toStdString();
            EXPECT_LE(shown.needed, shown.room) << "cut off: " << shown.text.toStdString();
            ++checked;
        }
        EXPECT_GT(checked, 0);
    }

    // A text the German translation holds, with its placeholders filled in.
    bool IsGerman(const QString& text) const {
        return std::any_of(german.begin(), german.end(), [&](const QRegularExpression& pattern) {
            return pattern.match(text).hasMatch();
        });
    }

    std::vector<QRegularExpression> german;
    std::unique_ptr<AppTranslations> translations;
};

}  // namespace

TEST_F(GermanTranslation, EveryMessageIsTranslatedWithItsPlaceholders) {
    const std::vector<Message> messages = ReadGermanSource();
    ASSERT_GT(messages.size(), 50u);
    const QRegularExpression placeholder("%\\d");
    for (const Message& m : messages) {
        SCOPED_TRACE((m.context + ": " + m.source).toStdString());
        EXPECT_TRUE(m.finished);
        EXPECT_FALSE(m.translation.isEmpty());
        QStringList in, out;
        for (const auto& match : placeholder.globalMatch(m.source)) {
            in << match.captured();
        }
        for (const auto& match : placeholder.globalMatch(m.translation)) {
            out << match.captured();
        }
        in.sort();
        out.sort();
        EXPECT_EQ(in, out);
        EXPECT_EQ(m.source.count('\n'), m.translation.count('\n'));
    }
}

TEST_F(GermanTranslation, TheDialogAndItsPanelAreGermanAndShowEveryTextWhole) {
    ConverterDialog& dlg = MakeMediaDialog();
    Open(MediaFile("Aufnahme.mpg", 90 * kSecond));
    EXPECT_EQ(Control<QPushButton>(ConverterDialog::IDC_START_TIME)->text(), "Startzeit");
    EXPECT_EQ(Control<QPushButton>(ConverterDialog::IDC_CONVERT)->text(), "Konvertieren");
    EXPECT_EQ(Control<QPushButton>(ConverterDialog::IDC_STOP)->text(), "Stopp");
    ExpectGermanAndWhole(&dlg);
    ASSERT_EQ(dlg.actions().size(), 1);
    EXPECT_TRUE(IsGerman(dlg.actions().front()->text()));

    // The panel under More, and the button that closes it again.
    auto* more = dlg.findChild<QPushButton*>("moreButton");
    ASSERT_NE(more, nullptr);
    more->click();
    ASSERT_TRUE(dlg.IsPanelOpen());
    EXPECT_EQ(more->text(), "Weniger ▾");
    ExpectGermanAndWhole(&dlg);

    // The controls that grew pushed their neighbours along: none covers another, and
    // the dialog holds them all.
    QList<QWidget*> controls;
    for (QWidget* w : dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisibleTo(&dlg)) {
            controls << w;
        }
    }
    for (QWidget* a : controls) {
        EXPECT_TRUE(dlg.rect().contains(a->geometry())) << a->objectName().toStdString();
        for (QWidget* b : controls) {
            EXPECT_TRUE(a == b || !a->geometry().intersects(b->geometry()))
                << a->objectName().toStdString() << " covers " << b->objectName().toStdString();
        }
    }

    // The file chooser's texts.
    Open("");
    ASSERT_FALSE(choosers.openCalls.empty());
    EXPECT_EQ(choosers.openCalls.back().title, "Mediendatei auswählen");
    EXPECT_EQ(choosers.openCalls.back().filter, "MPEG-Dateien (*.mpg *.mpeg);;Alle Dateien (*)");
}

TEST_F(GermanTranslation, TheAboutBoxIsGermanAndShowsEveryTextWhole) {
    AboutDialog about;
    about.show();
    EXPECT_EQ(about.windowTitle(), "Über Orvane");
    ExpectGermanAndWhole(&about);
}

TEST_F(GermanTranslation, ThePreviewMenuIsGermanAndShowsEveryTextWhole) {
    PreviewWindow window;
    window.show();
    window.PopupMenu(QPoint(10, 10), false, PlayState::Stopped);
    auto* menu = window.findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }));
    QStringList texts;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            continue;
        }
        const QString text = WithoutMnemonic(action->text());
        texts << text;
        EXPECT_TRUE(IsGerman(action->text())) << "not German: " << text.toStdString();
        EXPECT_LE(menu->fontMetrics().horizontalAdvance(text), menu->actionGeometry(action).width())
            << "cut off: " << text.toStdString();
    }
    EXPECT_EQ(texts, QStringList({"Vollbild", "Normale Größe", "Wiedergabe", "Pause", "Stopp",
                                  "Schließen"}));
    menu->close();
}

// The replace question as the real message box asks it: Orvane's text and Qt's own
// buttons in German.
TEST_F(GermanTranslation, TheReplaceQuestionAsksInGermanWithQtsGermanButtons) {
    const QString qtGerman =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_de.qm");
    if (!QFile::exists(qtGerman)) {
        GTEST_SKIP() << qtGerman.toStdString()
                     << " is missing (Debian package qt6-translations-l10n): Qt's own buttons "
                        "cannot be German here";
    }
    EXPECT_TRUE(translations->HasQt());
    QMessageBoxMessages real;
    userMessages = &real;
    MakeMediaDialog();
    OpenWithMarks(MediaFile("Film.mpg", 60 * kSecond), 60 * kSecond, 0, 10 * kSecond);
    const QString output = dir.filePath("schon da.wav");
    QFile(output).open(QIODevice::WriteOnly);
    Control<QLineEdit>(ConverterDialog::IDC_OUTPUT_FILE)->setText(output);

    QString text, yes, no;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* shown = qobject_cast<QMessageBox*>(w);
                shown != nullptr && shown->isVisible()) {
                box = shown;
            }
        }
        if (box == nullptr) {
            ADD_FAILURE() << "no question";
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
            return;
        }
        text = box->text();
        yes = box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)->text() : "";
        no = box->button(QMessageBox::No) ? box->button(QMessageBox::No)->text() : "";
        box->close();
    });
    Click(ConverterDialog::IDC_CONVERT);
    EXPECT_EQ(text, output + " ist bereits vorhanden. Möchten Sie die Datei ersetzen?");
    EXPECT_EQ(yes, "&Ja");
    EXPECT_EQ(no, "&Nein");
}
