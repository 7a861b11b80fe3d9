#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "DialogTestFixture.h"
#include "MarkTimeEdit.h"
#include "PrecisionPanel.h"
#include "SegmentPanel.h"
#include "TestUnits.h"
#include "WaveformView.h"

namespace {

class SegmentPanelTest : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        MakeMediaDialog();
        Dialog().ShowPanel(true);
    }
    SegmentPanel* Segments() const { return Dialog().Panel()->Segments(); }
    QTableWidget* Table() const { return Segments()->Table(); }
    void Press(const char* name) {
        auto* button = Segments()->findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }
    void TypeMark(Mark mark, const QString& text) {
        QLineEdit* line = Dialog().Panel()->MarkField(mark)->findChild<QLineEdit*>();
        line->selectAll();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, Qt::Key_Return);
    }
    void AddSegment(const QString& start, const QString& end) {
        TypeMark(Mark::Start, start);
        TypeMark(Mark::End, end);
        Press("addSegmentButton");
    }
    // A row as the user reads it: start, end, length, name and note.
    QStringList RowText(int row) const {
        QStringList texts;
        for (int column = 0; column < Table()->columnCount(); ++column) {
            texts << Table()->item(row, column)->text();
        }
        return texts;
    }
};

TEST_F(SegmentPanelTest, TheMarksBecomeSegmentsSortedByStartWithOverlapsNoted) {
    Open(MediaFile("concert.mpg", 60 * kSecond));
    AddSegment("0:00:10", "0:00:20");
    AddSegment("0:00:30", "0:00:40");
    AddSegment("0:00:05", "0:00:12");
    ASSERT_EQ(Table()->rowCount(), 3);
    EXPECT_EQ(RowText(0),
              QStringList({"0:00:05.000", "0:00:12.000", "0:00:07.000", "", "overlaps"}));
    EXPECT_EQ(RowText(1),
              QStringList({"0:00:10.000", "0:00:20.000", "0:00:10.000", "", "overlaps"}));
    EXPECT_EQ(RowText(2), QStringList({"0:00:30.000", "0:00:40.000", "0:00:10.000", "", ""}));

    // Marks out of order make no segment.
    messages.records.clear();
    AddSegment("0:00:50", "0:00:45");
    EXPECT_EQ(Table()->rowCount(), 3);
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_EQ(messages.records[0].text, "The Start Time is bigger than the End Time!");
}

TEST_F(SegmentPanelTest, AChosenSegmentSetsTheMarksAndTakesTheirEdits) {
    Open(MediaFile("interview.mp3", 60 * kSecond));
    AddSegment("0:00:10", "0:00:20");
    AddSegment("0:00:30", "0:00:40");
    Table()->item(1, SegmentPanel::NameColumn)->setText("Answer");

    Table()->setCurrentCell(1, SegmentPanel::StartColumn);
    EXPECT_EQ(Media().MarkTime(Mark::Start), 30 * kSecond);
    EXPECT_EQ(Media().MarkTime(Mark::End), 40 * kSecond);

    // Nudged and typed: the chosen segment follows, and moves to stay in order.
    Segments()->parentWidget()->findChild<QPushButton*>("endForwardButton")->click();
    EXPECT_EQ(RowText(1).mid(1, 2), QStringList({"0:00:40.010", "0:00:10.010"}));
    TypeMark(Mark::Start, "0:00:05");
    EXPECT_EQ(RowText(0),
              QStringList({"0:00:05.000", "0:00:40.010", "0:00:35.010", "Answer", "overlaps"}));
    EXPECT_EQ(Table()->currentRow(), 0);

    Press("removeSegmentButton");
    ASSERT_EQ(Table()->rowCount(), 1);
    EXPECT_EQ(RowText(0)[0], "0:00:10.000");
    // Nothing is chosen now: the marks are free for the next segment.
    TypeMark(Mark::Start, "0:00:01");
    EXPECT_EQ(RowText(0)[0], "0:00:10.000");
    Press("clearSegmentsButton");
    EXPECT_EQ(Table()->rowCount(), 0);
}

// Each segment is a band along the bottom of the waveform, where it lies in the file.
TEST_F(SegmentPanelTest, SegmentsAreBandsOnTheWaveform) {
    Open(MediaFile("show.mpg", 60 * kSecond));
    WaveformView* waveform = Dialog().Panel()->Waveform();
    // Whether the bottom of the strip looks other than its top there (the selection's
    // shade covers the whole height; a band only the bottom).
    const auto bandAt = [&](int64_t rt) {
        const QImage image = waveform->grab().toImage();
        const int x = static_cast<int>(rt * image.width() / (60 * kSecond));
        return image.pixelColor(x, image.height() - 3) != image.pixelColor(x, 3);
    };
    EXPECT_FALSE(bandAt(15 * kSecond));
    AddSegment("0:00:10", "0:00:20");
    EXPECT_TRUE(bandAt(15 * kSecond));
    EXPECT_FALSE(bandAt(40 * kSecond));
    Press("clearSegmentsButton");
    EXPECT_FALSE(bandAt(15 * kSecond));
}

TEST_F(SegmentPanelTest, TheListBelongsToTheOpenFile) {
    Open(MediaFile("one.mpg", 60 * kSecond));
    AddSegment("0:00:10", "0:00:20");
    ASSERT_EQ(Table()->rowCount(), 1);
    Open(MediaFile("two.mpg", 60 * kSecond));
    EXPECT_EQ(Table()->rowCount(), 0);
}

}  // namespace
