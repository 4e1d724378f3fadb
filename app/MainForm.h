#pragma once

// The program's one window. Creating it loads the settings, writes the grid headings and finds
// the controller (FormCreate); closing it saves the settings and closes the port (FormClose).
// Every other function is a handler of one of its controls; each group of handlers lives in its
// own file (MainFormIdentity.cpp, MainFormDownload.cpp, MainFormTextExport.cpp,
// MainFormExcelExport.cpp, MainFormCalcExport.cpp, MainFormArchive.cpp for the file view). The
// features beyond the design's controls are parts of their own that add their menu entries
// (ArchiveFileMenu, ServiceTools, ChartsMenu, VisitReportMenu, LibraryMenu) and reach the window
// through its public face.
//
// How the window (app/) reports a failure: the parts below it return results, and the window puts
// their words before the user: a message box for what stops the action asked for (the link's
// "TX Error" or "RX Error", "Регулятор не обнаружен!", an archive file's cause), a notice over the
// status bar for what only goes with it (the journal or the library not written). Each control's
// handler runs through RunHandler, which catches what escapes it (an export's ExportError) and
// shows its text in a message box, as closing does for the settings file's write and main() for
// the start-up.

#include "DesignControls.h"
#include "FrameLink.h"
#include "MainFormOptions.h"
#include "PortSettings.h"
#include "ServiceSession.h"
#include "UserDialogs.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class ServiceTools;
class SettingsFile;
class TextGrid;
struct IdentityReadResult;
class ExcelApplication;
class ExcelWorksheet;
struct ExportProgress;
struct ExportSource;
struct ArchiveFileContents;
struct IdentityChange;
struct IdentityWriteSteps;
enum class SessionReadKind;

// The application title: caption of message boxes and the task bar.
extern const QString kApplicationTitle;

class TMainForm : public QWidget, public DesignControls {
    Q_OBJECT

public:
    // Builds the controls and runs FormCreate.
    explicit TMainForm(MainFormOptions options = {}, QWidget* parent = nullptr);
    // Runs FormClose if the window was never closed.
    ~TMainForm() override;

    // The workbook application and the sheet an Excel export is filling; empty between exports.
    std::shared_ptr<ExcelApplication> ExcelApp;
    std::shared_ptr<ExcelWorksheet> ExcelSheet;

    // Port settings (the port actually open is the link's CurrentPort()).
    int ConfiguredPort = 0; // "COM port" of the settings: the first candidate
    int PortSpeed = 115200; // "COM speed" of the settings: used for every open

    // The window's one link to the controller: its port, its device address (saved at exit)
    // and its buffers. Every request of the window goes through it; nothing else uses it.
    FrameLink& Link() { return link_; }
    const FrameLink& Link() const { return link_; }

    // The session the window shows: the controller and its identity as read, the channel
    // geometry, the archive shown and the kept downloads.
    ServiceSession& Session() const { return *session_; }

    // Handlers.
    void FormCreate();
    void FormClose();
    void btReadInfoClick();
    void btWriteInfoClick();
    void speSerialDblClick();
    void bt_DF_ReadClick();
    // "Сервис" → "Прочитать новые записи" (MainFormDownload.cpp, beside bt_DF_ReadClick).
    void NewRecordsClick();
    void btSaveToTxtClick();
    void btExportToExelClick();
    void btExportToOOoClick();

    UserDialogs& Dialogs() const { return *dialogs_; }
    // A message box with the application title as caption.
    int ShowMessage(const QString& text, MessageIcon icon = MessageIcon::None, int buttons = MbOk);

    QString StatusText(int panel) const;
    void SetStatusText(int panel, const QString& text);

    // The four text tables in the order StringGrid1, StringGrid2, StringGrid3, StringGrid4.
    TextGrid& Grid(int index) const;

    // True while a download or an export runs: the buttons that start a download, an identity
    // write or an export then do nothing.
    bool Busy() const { return busy_; }
    // True once the window is closing: a running download or export stops at its next block or
    // row and touches neither the window's port nor its dialogs again.
    bool Closing() const { return closing_; }
    // Lets the window repaint and handle input once (for the long-running loops).
    void ProcessEvents();
    // What an export reads from the window as it stands: the heading lines (status panel 1,
    // speSerial, edComment and their labels), ChannelCount and the four grids.
    ExportSource CurrentExportSource() const;
    // Progress hooks for an export: ProgressBar1 (maximum set, position 0), ProcessEvents, and
    // Closing() as the signal to stop.
    ExportProgress ExportProgressHooks();

    QString SettingsPath() const { return settingsPath_; }
    // The settings file while the window is open; null once it has closed.
    SettingsFile* Settings() const { return settings_.get(); }
    // The settings' "Ports" section becomes the link's port map (after a change of it); returns
    // the entries refused, one line each.
    QStringList UsePortSettings() {
        if (!settings_)
            return {};
        PortSettings ports = ReadPortSettings(*settings_, systemDevices_);
        link_.SetPortMap(ports.ports);
        return ports.refused;
    }

    // Runs a handler with the busy guard: nothing happens while another long-running handler
    // runs; otherwise the window is busy until the handler returns.
    void RunGuarded(const std::function<void()>& handler);
    // Runs a handler and shows an exception that escapes it in a message box (its text, or
    // "Unknown error" for one that carries none).
    void RunHandler(const std::function<void()>& handler);

    // The archive the grids show: the last complete download, or the archive file opened;
    // nullptr while none is shown. It stays valid until the next ArchiveShown.
    const ArchiveFileContents* ShownArchive() const { return session_->Shown(); }
    // The file the shown archive was opened from; empty when it came from a download.
    QString ShownArchivePath() const { return session_->ShownPath(); }
    // Makes row `row` of channel `channel`'s data grid (1-based, as the grid numbers its rows,
    // channel 1 or 2) current: its page is shown and the row selected and scrolled into view.
    // Out-of-range values do nothing.
    void SelectRecordRow(int channel, int row);

    // Shows an archive file in the grids and fields (the file view). A file that cannot be
    // shown gives one message naming it and the cause and leaves the window as it was; returns
    // false then.
    bool OpenArchiveFile(const QString& path);
    // Waits until every automatic save of a download started so far is on the disk and shows
    // what failed.
    void WaitForArchiveSaves();

    // "Файл" → "Закрыть архив": the grids empty as at start, the fields show the controller as
    // last read.
    void CloseArchiveClick();

signals:
    // The grids show a new archive: a download completed, or an archive file was opened.
    void ArchiveShown();
    // The grids show no archive any more ("Закрыть архив").
    void ArchiveClosed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The window's two reads on one path: runs the read of this kind on the window's link, keeps
    // it in the session and shows it, or says why it failed.
    void ReadArchive(SessionReadKind kind);
    // Fills the menus; a menu left without actions is hidden.
    void BuildMenus();
    void ConnectHandlers();
    void RunGuarded(void (TMainForm::*handler)()) {
        RunGuarded([this, handler] { (this->*handler)(); });
    }
    void RunHandler(void (TMainForm::*handler)()) {
        RunHandler([this, handler] { (this->*handler)(); });
    }
    void ShowException(const std::exception& e);
    void FindController();
    void ApplyIdentityRead(const IdentityReadResult& result);
    bool FileViewShown() const { return session_->FileViewShown(); }
    void FindControllerBehindFileView();
    // Shows a file's identity where an identity read puts it, its name in panel 0 and the title.
    void ShowFileIdentity(const ArchiveFileContents& contents, const QString& path);
    // Shows the controller's identity as last read, and its port in panel 0.
    void ShowControllerIdentity();
    // Empties channel 2's grids when what is shown has one channel.
    void ClearUnusedChannel();
    void LeaveFileView();
    void ShowArchive(const ArchiveFileContents& contents, const QString& path);
    // One line in the journal of identity changes; steps null: the press was refused.
    void JournalIdentityChange(const IdentityChange& change, const IdentityWriteSteps* steps,
                               const QByteArray& error);

    FrameLink link_;
    ServiceTools* service_ = nullptr; // the service menu, a child of this window
    std::shared_ptr<UserDialogs> dialogs_;
    QString settingsPath_;
    std::unique_ptr<SettingsFile> settings_;
    bool busy_ = false;
    bool closing_ = false;
    bool closed_ = false;
    std::unique_ptr<ServiceSession> session_;
    QString startPath_; // the archive file to show at start
    QString baseTitle_; // the window's title outside the file view
    PortMap::DeviceLister systemDevices_;
};
