#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

// The segment list of the precision panel: the open file's segments with their times and
// names, and the commands on them. A view: it shows the rows it is given and passes the
// user's commands on.
class SegmentPanel final : public QWidget {
    Q_OBJECT
  public:
    struct Row {
        int64_t start = 0;
        int64_t end = 0;
        QString name;
        bool overlaps = false;
    };
    enum Column { StartColumn, EndColumn, LengthColumn, NameColumn, NoteColumn };

    explicit SegmentPanel(QWidget* parent = nullptr);

    // The rows, and the one chosen (-1: none).
    void ShowSegments(const std::vector<Row>& rows, int chosen);
    void SetMediaEnabled(bool enabled);
    // Whether the open file has chapters to fill the list from.
    void SetChaptersAvailable(bool available);
    void ShowExportChoices(const QString& pattern, bool join, bool bext);
    QString NamePattern() const;
    // Beside the list while an export or a search runs ("segment 3 of 12"); "" takes it
    // away.
    void ShowExportProgress(const QString& text);
    QString ExportProgress() const;
    QTableWidget* Table() const { return m_table; }

  signals:
    void addClicked();
    void removeClicked(int row);
    void clearClicked();
    void rowChosen(int row);
    void nameEdited(int row, const QString& name);
    void chaptersClicked();
    void silencesClicked();
    void openListClicked();
    void saveListClicked();
    void exportClicked();
    void patternEdited(const QString& pattern);
    void joinToggled(bool on);
    void bextToggled(bool on);

  private:
    QPushButton* MakeButton(const QString& text, const char* name);
    void UpdateButtons();

    QTableWidget* m_table = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    QPushButton* m_chaptersButton = nullptr;
    QPushButton* m_silencesButton = nullptr;
    QPushButton* m_openListButton = nullptr;
    QPushButton* m_saveListButton = nullptr;
    QLineEdit* m_patternEdit = nullptr;
    QCheckBox* m_joinBox = nullptr;
    QCheckBox* m_bextBox = nullptr;
    QPushButton* m_exportButton = nullptr;
    QLabel* m_progress = nullptr;
    bool m_mediaEnabled = false;
    bool m_chaptersAvailable = false;
    bool m_showing = false;
};
