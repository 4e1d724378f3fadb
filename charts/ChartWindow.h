#pragma once

// The chart window: one tab per channel of the archive shown, titled with the controller's
// identification and serial number. Above the tabs: back to the whole archive, a comparison
// archive, saving the chart (PNG or PDF) and copying it to the clipboard; beside them the
// archive's findings, listed and marked on the charts once the charts are painted; under them a
// line that says how many records are drawn and how many were left out for their date or time.
//
// How the charts (charts/) report a failure: what the user asked for and did not get (a
// comparison archive that does not read or is of another controller, a chart not saved) is a
// warning with one button (ChartDialogs::Warn) with the cause in Russian, and the charts shown
// stay as they were; the functions under the window return that cause as text (WriteChartFile,
// ComparisonRefusal). A channel without records is an empty chart that says why. Nothing throws.

#include "ArchiveFile.h"
#include "ChartDialogs.h"
#include "ChartSeries.h"
#include "Finding.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ChannelChart;
class QLabel;
class QListWidget;
class QPushButton;
class QTabWidget;

// Reads an archive file for a comparison, as ReadArchiveFile does.
using ChartArchiveReader = std::function<ArchiveFileReadResult(const QString& path)>;

struct ChartWindowOptions {
    std::shared_ptr<ChartDialogs> dialogs; // null: the real Qt dialogs
    ChartArchiveReader readArchive;        // null: ReadArchiveFile
};

class ChartWindow : public QWidget {
    Q_OBJECT

public:
    explicit ChartWindow(ChartWindowOptions options, QWidget* parent = nullptr);
    ~ChartWindow() override;

    // Draws archive (replacing what was shown), read from the file at path (empty for what came
    // from the controller). controllerFolder is where the other archive files of its
    // controller are, where a comparison is looked for first (may be empty). A comparison of
    // the same controller stays; one of another is dropped.
    void ShowArchive(const ArchiveFileContents& archive, const QString& path,
                     const QString& controllerFolder);

    // Draws a controller's history merged from several downloads (one series per channel, e.g.
    // from the library) in place of an archive; a comparison is dropped, and none can be chosen
    // while the history is shown. Only controller's identity is used (for the title).
    void ShowHistory(const ArchiveFileContents& controller, std::vector<ChannelSeries> series);

    // "Сравнить с архивом…": asks for a file (offering the previous one of the archive's
    // folder) and draws it beside the archive, or says why it cannot.
    void CompareWithArchive();
    // Draws the archive at path beside the one shown; on refusal or failure warns and returns
    // false.
    bool CompareWith(const QString& path);

    // Saves the current channel's charts to path (PNG or PDF by extension); the error text or
    // empty.
    QString SaveChart(const QString& path) const;

    int ChannelTabCount() const;
    ChannelChart* Channel(int index) const; // 0-based
    const std::vector<ChannelSeries>& Series() const { return series_; }
    QString SummaryText() const;
    // The findings of the archive shown, as the list beside the charts holds them. They are
    // found and listed (and marked on the charts) once the charts have been painted, so that the
    // charts appear first: empty until FindingsListed.
    const std::vector<Finding>& Findings() const { return findings_; }
    // Shows the finding's channel with its time axis zoomed to the finding (a click in the list).
    void ShowFinding(int index);

signals:
    // A double click on a point of channel (1-based): the row of its record in the data grid.
    void RecordActivated(int channel, int row);
    // The findings of the archive shown are listed beside the charts and marked on them.
    void FindingsListed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Redraw();
    void ClearFindings();
    void ListFindings(); // when they are due
    void SaveChartAs();
    void CopyChart();
    ChannelChart* CurrentChart() const;

    ChartWindowOptions options_;
    QTabWidget* tabs_ = nullptr;
    QPushButton* wholeButton_ = nullptr;
    QPushButton* compareButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    QLabel* summary_ = nullptr;
    QListWidget* findingsList_ = nullptr;
    std::vector<Finding> findings_;
    bool findingsDue_ = false; // the archive shown is drawn; its findings follow its first paint
    std::vector<ChannelChart*> charts_;

    ArchiveFileContents shown_;
    QString shownPath_;        // empty: not from a file
    QString controllerFolder_; // where a comparison is looked for; may be empty
    std::vector<ChannelSeries> series_;
    bool history_ = false; // a merged history is shown, not one archive
    std::optional<ArchiveFileContents> comparison_;
    QString comparisonPath_;
    std::vector<ChannelSeries> comparisonSeries_;
    QString lastSavePath_;
};
