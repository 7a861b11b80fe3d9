#include "SegmentPanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

#include "MediaTime.h"

namespace {

QString TimeText(int64_t rt) {
    return QString::fromStdString(MediaTime::Format(rt));
}

QTableWidgetItem* FixedItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

}  // namespace

SegmentPanel::SegmentPanel(QWidget* parent) : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* box = new QGroupBox(tr("Segments"), this);
    outer->addWidget(box);
    auto* layout = new QVBoxLayout(box);

    m_table = new QTableWidget(0, 5, this);
    m_table->setObjectName("segmentTable");
    m_table->setAccessibleName(tr("Segments"));
    m_table->setHorizontalHeaderLabels(
        {tr("Start"), tr("End"), tr("Length"), tr("Name"), tr("Note")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    // Tab goes on to the buttons; the arrows move within the list.
    m_table->setTabKeyNavigation(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    // A few rows in view; the panel must still fit small screens.
    m_table->setMinimumHeight(90);
    m_table->setMaximumHeight(160);
    layout->addWidget(m_table);

    auto* buttons = new QHBoxLayout;
    m_addButton = MakeButton(tr("Add"), "addSegmentButton");
    m_addButton->setToolTip(tr("The Start and End marks become a segment"));
    m_removeButton = MakeButton(tr("Remove"), "removeSegmentButton");
    m_clearButton = MakeButton(tr("Clear"), "clearSegmentsButton");
    for (QPushButton* button : {m_addButton, m_removeButton, m_clearButton}) {
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);

    auto* sources = new QHBoxLayout;
    m_chaptersButton = MakeButton(tr("Chapters"), "chaptersButton");
    m_chaptersButton->setToolTip(tr("The list becomes the file's chapters"));
    m_silencesButton = MakeButton(tr("Silences…"), "silencesButton");
    m_silencesButton->setToolTip(tr("The list becomes the sound between the file's silences"));
    m_openListButton = MakeButton(tr("Open list…"), "openListButton");
    m_openListButton->setToolTip(tr("A cut list: CSV, a label file or a CUE sheet"));
    m_saveListButton = MakeButton(tr("Save list…"), "saveListButton");
    for (QPushButton* button :
         {m_chaptersButton, m_silencesButton, m_openListButton, m_saveListButton}) {
        sources->addWidget(button);
    }
    sources->addStretch(1);
    layout->addLayout(sources);
    connect(m_chaptersButton, &QPushButton::clicked, this, &SegmentPanel::chaptersClicked);
    connect(m_silencesButton, &QPushButton::clicked, this, &SegmentPanel::silencesClicked);
    connect(m_openListButton, &QPushButton::clicked, this, &SegmentPanel::openListClicked);
    connect(m_saveListButton, &QPushButton::clicked, this, &SegmentPanel::saveListClicked);

    // Export: how the files are named, joined or not, and the place in the source.
    auto* export_ = new QGridLayout;
    m_patternEdit = new QLineEdit(this);
    m_patternEdit->setObjectName("patternEdit");
    m_patternEdit->setAccessibleName(tr("File names"));
    m_patternEdit->setToolTip(
        tr("{n} the number, {name} the name, {start} the start, {file} the "
           "media file's name; {n:02} gives at least two digits"));
    auto* patternLabel = new QLabel(tr("File names"), this);
    patternLabel->setBuddy(m_patternEdit);
    m_joinBox = new QCheckBox(tr("Join into one file"), this);
    m_joinBox->setObjectName("joinBox");
    m_joinBox->setToolTip(
        tr("The segments one after another in one file, with a cue point at "
           "the start of each"));
    m_bextBox = new QCheckBox(tr("Write the place in the source (bext)"), this);
    m_bextBox->setObjectName("bextBox");
    m_exportButton = MakeButton(tr("Export segments…"), "exportButton");
    m_progress = new QLabel(this);
    m_progress->setObjectName("segmentProgress");
    export_->addWidget(patternLabel, 0, 0);
    export_->addWidget(m_patternEdit, 0, 1, 1, 2);
    export_->addWidget(m_joinBox, 1, 1, 1, 2);
    export_->addWidget(m_bextBox, 2, 1, 1, 2);
    export_->addWidget(m_exportButton, 3, 1);
    export_->addWidget(m_progress, 3, 2);
    export_->setColumnStretch(2, 1);
    layout->addLayout(export_);
    connect(m_exportButton, &QPushButton::clicked, this, &SegmentPanel::exportClicked);
    connect(m_patternEdit, &QLineEdit::editingFinished, this,
            [this] { emit patternEdited(m_patternEdit->text()); });
    connect(m_joinBox, &QCheckBox::toggled, this, [this](bool on) {
        // A joined file has one name, chosen when it is written.
        m_patternEdit->setEnabled(m_mediaEnabled && !on);
        emit joinToggled(on);
    });
    connect(m_bextBox, &QCheckBox::toggled, this, &SegmentPanel::bextToggled);

    connect(m_addButton, &QPushButton::clicked, this, &SegmentPanel::addClicked);
    connect(m_removeButton, &QPushButton::clicked, this,
            [this] { emit removeClicked(m_table->currentRow()); });
    connect(m_clearButton, &QPushButton::clicked, this, &SegmentPanel::clearClicked);
    connect(m_table, &QTableWidget::currentCellChanged, this, [this](int row) {
        UpdateButtons();
        if (!m_showing && row >= 0) {
            emit rowChosen(row);
        }
    });
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!m_showing && item->column() == NameColumn) {
            emit nameEdited(item->row(), item->text());
        }
    });
    SetMediaEnabled(false);
}

QPushButton* SegmentPanel::MakeButton(const QString& text, const char* name) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(name);
    // Enter stays with the dialog's own rule: only the focused button.
    button->setAutoDefault(false);
    return button;
}

void SegmentPanel::ShowSegments(const std::vector<Row>& rows, int chosen) {
    m_showing = true;
    m_table->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const Row& row = rows[static_cast<size_t>(r)];
        m_table->setItem(r, StartColumn, FixedItem(TimeText(row.start)));
        m_table->setItem(r, EndColumn, FixedItem(TimeText(row.end)));
        m_table->setItem(r, LengthColumn, FixedItem(TimeText(row.end - row.start)));
        m_table->setItem(r, NameColumn, new QTableWidgetItem(row.name));
        QTableWidgetItem* note = FixedItem(row.overlaps ? tr("overlaps") : QString());
        if (row.overlaps) {
            note->setToolTip(tr("This segment shares time with another one"));
        }
        m_table->setItem(r, NoteColumn, note);
    }
    if (chosen >= 0 && chosen < m_table->rowCount()) {
        m_table->setCurrentCell(chosen, NameColumn);
    } else {
        m_table->setCurrentCell(-1, -1);
        m_table->clearSelection();
    }
    m_showing = false;
    UpdateButtons();
}

void SegmentPanel::SetMediaEnabled(bool enabled) {
    m_mediaEnabled = enabled;
    m_table->setEnabled(enabled);
    UpdateButtons();
}

void SegmentPanel::ShowExportChoices(const QString& pattern, bool join, bool bext) {
    const QSignalBlocker quietJoin(m_joinBox);
    const QSignalBlocker quietBext(m_bextBox);
    m_patternEdit->setText(pattern);
    m_joinBox->setChecked(join);
    m_bextBox->setChecked(bext);
    UpdateButtons();
}

QString SegmentPanel::NamePattern() const {
    return m_patternEdit->text();
}

void SegmentPanel::ShowExportProgress(const QString& text) {
    m_progress->setText(text);
}

QString SegmentPanel::ExportProgress() const {
    return m_progress->text();
}

void SegmentPanel::SetChaptersAvailable(bool available) {
    m_chaptersAvailable = available;
    UpdateButtons();
}

void SegmentPanel::UpdateButtons() {
    m_addButton->setEnabled(m_mediaEnabled);
    m_removeButton->setEnabled(m_mediaEnabled && m_table->currentRow() >= 0);
    m_clearButton->setEnabled(m_mediaEnabled && m_table->rowCount() > 0);
    m_chaptersButton->setEnabled(m_mediaEnabled && m_chaptersAvailable);
    m_silencesButton->setEnabled(m_mediaEnabled);
    m_openListButton->setEnabled(m_mediaEnabled);
    m_saveListButton->setEnabled(m_mediaEnabled && m_table->rowCount() > 0);
    m_exportButton->setEnabled(m_mediaEnabled && m_table->rowCount() > 0);
    m_patternEdit->setEnabled(m_mediaEnabled && !m_joinBox->isChecked());
    m_joinBox->setEnabled(m_mediaEnabled);
    m_bextBox->setEnabled(m_mediaEnabled);
}
