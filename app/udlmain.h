#pragma once

#include "lists/import_export.h"
#include "table/main_host.h"

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QTableView;
class QFrame;
class BrowserPanel;
class Tvrpngbtn;

namespace vorsa {
class tdaili;
class ValidationRun;
}  // namespace vorsa

// The main window: layout, actions, menus, status line and the command handlers. The
// routines that work on the table, the harvest and the validation live in their rooms; the
// window implements MainHost for them and forwards its handlers.
class Tfrmvrdl : public QWidget, public vorsa::MainHost {
    Q_OBJECT
public:
    // Makes the browser panel inside Panel1; the default one is the real browser (TEwbCore).
    using BrowserFactory = std::function<BrowserPanel*(QWidget* owner)>;

    explicit Tfrmvrdl(QWidget* parent = nullptr, BrowserFactory makeBrowser = {});
    ~Tfrmvrdl() override;

    // MainHost
    void showinfo(const std::string& text) override;
    void midshowinfo(const std::string& text) override;
    void processMessages() override;
    void pause(int ms) override;
    vorsa::ProxyTable& table() override;
    vorsa::StringGridModel& grid() override { return *m_grid; }
    vorsa::SharedState& state() override { return m_state; }
    Selection gridSelection() const override;
    bool sourceGroupChecked(int item) const override;
    void listtable() override;
    void actcheckExecute() override;
    void showMessage(const std::string& text) override;
    void navigate(const std::string& url) override;

    // Start-up and close sequences.
    void FormShow();
    void FormClose();
    // Writes the proxies that passed to the autosave file (last-valid.txt).
    void autosave();

    // DownOption: one '1' or '0' per item of popsvr.
    std::string readdownoption();
    void savedownoption();
    void refeshmemu();
    void mn01Click(QAction* Sender);
    const std::string& downOption() const { return DownOption; }

    // Command handlers.
    void actdownExecute(QObject* Sender);
    void actdwoncheckExecute(QObject* Sender);
    void actstopExecute(QObject* Sender);
    void actlistdelExecute(QObject* Sender);
    void actstartExecute(QObject* Sender);
    void actstopproxyExecute(QObject* Sender);
    void actvailExecute(QObject* Sender);
    void actsetExecute(QObject* Sender);
    void vrpngbtn9click(QObject* Sender);
    void actaboutExecute(QObject* Sender);
    void Lb2Click(QObject* Sender);
    void actcloseExecute(QObject* Sender);
    void actimportExecute(QObject* Sender);
    void actsaveExecute(QObject* Sender);
    void actgetcityExecute(QObject* Sender);

    // Runs a command handler; an error it raises is shown in a message box titled with the
    // application title. This is the program's default error report.
    void runCommand(const std::function<void()>& handler) override;

    // Components, by their names, for the layout and for tests.
    QWidget* Panel2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Lb2 = nullptr;
    QTableView* sgrid = nullptr;
    QFrame* Panel1 = nullptr;
    BrowserPanel* eweb = nullptr;
    QWidget* stb1 = nullptr;
    QLabel* stbPanels[3] = {};
    QMenu* popsvr = nullptr;
    QMenu* popset = nullptr;
    QAction* mn01 = nullptr;
    QAction* mn02 = nullptr;
    QAction* mn03 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
    std::map<std::string, Tvrpngbtn*> buttons;    // vrpngbtn1 ... btnvail
    std::map<std::string, QAction*> ActionList1;  // actdown ... actdwoncheck

    vorsa::tdaili* Daili() const { return m_daili.get(); }

    // Where the desktop's browser and the about box are opened; tests replace them.
    std::function<void(const QString& url)> openInBrowser;
    std::function<void()> showAboutBox;
    // The import and export file dialogs; tests replace them. The open dialog gives the chosen
    // name (empty: cancelled). The save dialog opens with fileName and format (1..4), puts the
    // choice back into both and returns false when cancelled.
    std::function<QString()> chooseImportFile;
    std::function<bool(QString& fileName, int& format)> chooseExportFile;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout(const BrowserFactory& makeBrowser);
    void buildActions();
    void buildMenus();
    void buildToolbar();
    QAction* addAction(const char* name, const char* category, const char* caption,
                       const char* hint, int imageIndex);

    vorsa::StringGridModel* m_grid = nullptr;
    // Declared before the objects that use it through MainHost, so it outlives them.
    vorsa::SharedState m_state;
    std::unique_ptr<vorsa::ProxyTable> m_table;
    std::unique_ptr<vorsa::tdaili> m_daili;
    std::unique_ptr<vorsa::ValidationRun> m_run;
    std::string DownOption;
    bool m_shown = false;
    bool m_closed = false;
    vorsa::ExportChoice m_exportChoice;  // what the save dialog opens with next time
};
