#include "app/udlmain.h"

#include "components/ewbcore.h"
#include "components/jpeg_image.h"
#include "components/png_image.h"
#include "components/uvrpngbtn.h"
#include "harvest/udlclass.h"
#include "harvest/worker_thread.h"
#include "lists/autosave.h"
#include "lists/import_export.h"
#include "lists/location_lookup.h"
#include "platform/check_settings.h"
#include "platform/codec.h"
#include "platform/hosts_config.h"
#include "platform/proxy_announce.h"
#include "platform/settings_store.h"
#include "platform/url_cache.h"
#include "sysproxy/system_proxy.h"
#include "sysproxy/web_verification.h"
#include "table/grid_routines.h"
#include "validation/validation_run.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QTableView>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

using namespace vorsa;

namespace {

QString u8(const char* utf8) {
    return QString::fromUtf8(utf8);
}

const char* const kTitle = "Vorsa智能代理 V4.2";
const char* const kAppTitle = "Vorsa智能代理";
const char* const kHelpPath = "/a/jishuwenzhang/ruanjianshiyong/20110902/15.html";
const char* const kBrowserPath = "/a/ruanjianxiazai/vorsaruanjian/20110901/7.html";
constexpr int kSourceGroups = 3;

// Panel2: the banner stretched over the whole panel, under the toolbar buttons. Qt paints a
// parent before its children, so the buttons are drawn over the banner without the
// clip-children switch a native window would need.
class BannerPanel : public QWidget {
public:
    explicit BannerPanel(QWidget* parent) : QWidget(parent) {
        QFile f(QStringLiteral(":/assets/banner.jpg"));
        if (f.open(QIODevice::ReadOnly))
            m_banner = decodeJpeg(f.readAll());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        // Smooth when stretched to another width or onto a scaled (high-DPI) screen.
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        if (!m_banner.isNull())
            p.drawImage(rect(), m_banner);
        else
            p.fillRect(rect(), QColor(0x3a, 0x78, 0xc0));
    }

private:
    QImage m_banner;
};

QLabel* linkLabel(QWidget* parent, const char* text, int x, int y) {
    auto* l = new QLabel(u8(text), parent);
    QFont f = l->font();
    f.setUnderline(true);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, Qt::blue);
    l->setPalette(pal);
    l->setCursor(Qt::PointingHandCursor);
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->move(x, y);
    l->adjustSize();
    return l;
}

// A label that runs a handler when clicked, like a TLabel's OnClick: the left button pressed
// on the label and released over it. Other buttons do nothing.
class ClickFilter : public QObject {
public:
    ClickFilter(QWidget* parent, std::function<void()> onClick)
        : QObject(parent), m_label(parent), m_onClick(std::move(onClick)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto type = event->type();
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
            type == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton)
                return true;
            if (type == QEvent::MouseButtonRelease) {
                const bool click =
                    m_pressed && m_label->rect().contains(mouse->position().toPoint());
                m_pressed = false;
                if (click)
                    m_onClick();
            } else {
                m_pressed = true;
            }
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_label;
    std::function<void()> m_onClick;
    bool m_pressed = false;
};

// Keeps the grid's current row and its highlighted rows across a redraw, as a string grid
// does: the model reset of a redraw would otherwise drop both, and "删除所选" would fall back
// to row 1 while nothing is highlighted. A current row that no longer exists moves to the new
// last row and the selection shrinks to it. While there is a current row it stays highlighted,
// so the rows a command reads are always the rows the user sees.
class GridCursorKeeper : public QObject {
public:
    explicit GridCursorKeeper(QTableView* view) : QObject(view), m_view(view) {
        QAbstractItemModel* model = view->model();
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { save(); });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { restore(); });
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this] { keepCurrentHighlighted(); });
    }

private:
    void save() {
        const QModelIndex cur = m_view->currentIndex();
        m_current = cur.isValid() ? cur.row() : -1;
        m_top = m_bottom = -1;
        for (const QModelIndex& i : m_view->selectionModel()->selectedRows()) {
            m_top = m_top < 0 ? i.row() : std::min(m_top, i.row());
            m_bottom = std::max(m_bottom, i.row());
        }
    }

    void restore() {
        const int rows = m_view->model()->rowCount();
        if (rows == 0 || (m_current < 0 && m_top < 0))
            return;
        int current = m_current < 0 ? m_top : m_current;
        if (current >= rows) {
            select(rows - 1, rows - 1, rows - 1);
            return;
        }
        if (m_top < 0 || m_top >= rows) {
            select(current, current, current);
            return;
        }
        select(m_top, std::min(m_bottom, rows - 1), current);
    }

    void select(int top, int bottom, int current) {
        QAbstractItemModel* model = m_view->model();
        QItemSelectionModel* sm = m_view->selectionModel();
        const int lastColumn = model->columnCount() - 1;
        sm->setCurrentIndex(model->index(current, 0), QItemSelectionModel::NoUpdate);
        sm->select(QItemSelection(model->index(top, 0), model->index(bottom, lastColumn)),
                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    void keepCurrentHighlighted() {
        QItemSelectionModel* sm = m_view->selectionModel();
        const QModelIndex cur = sm->currentIndex();
        if (!sm->hasSelection() && cur.isValid())
            sm->select(cur, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QTableView* m_view;
    int m_current = -1;
    int m_top = -1;
    int m_bottom = -1;
};

// The sprite strip of a toolbar button, from the program's resources.
QImage sprite(const char* name) {
    QFile f(QStringLiteral(":/assets/sprites/%1.png").arg(QString::fromLatin1(name)));
    return f.open(QIODevice::ReadOnly) ? decodePng(f.readAll()) : QImage();
}

}  // namespace

Tfrmvrdl::Tfrmvrdl(QWidget* parent, BrowserFactory makeBrowser) : QWidget(parent) {
    setObjectName(QStringLiteral("frmvrdl"));
    QFont font(QStringLiteral("Tahoma"));
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")});
    // Tahoma 8 pt at 96 dpi is 11 pixels. In pixels, the text scales with the fixed pixel
    // layout as one on a high-DPI screen instead of on its own.
    font.setPixelSize(11);
    setFont(font);
    // The taskbar title; the caption is set when the window is first shown.
    setWindowIconText(u8(kAppTitle));
    setWindowIcon(QIcon(QStringLiteral(":/assets/vorsa.png")));
    openInBrowser = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
    showAboutBox = [this] {
        const QString host = QString::fromStdString(hostBase("maker"));
        QMessageBox box(this);
        box.setWindowTitle(u8("关于 ") + u8(kTitle));
        box.setIconPixmap(windowIcon().pixmap(48, 48));
        box.setText(u8(kTitle));
        box.setInformativeText(u8("作者：Vorsa软件工作室\n网站：") + host);
        box.exec();
    };
    chooseImportFile = [this] {
        return QFileDialog::getOpenFileName(this, u8(kImportTitleUtf8), QString(),
                                            QStringLiteral("*.txt (*.txt)"));
    };
    chooseExportFile = [this](QString& fileName, int& format) {
        QStringList filters;
        for (int f = 1; exportFilter(f); ++f)
            filters << u8(exportFilter(f)->labelUtf8) + QStringLiteral(" (") +
                           QString::fromLatin1(exportFilter(f)->pattern) + u')';
        QString selected = filters.value(format - 1, filters.first());
        const QString name = QFileDialog::getSaveFileName(
            this, QString(), fileName, filters.join(QStringLiteral(";;")), &selected,
            QFileDialog::DontConfirmOverwrite);
        if (name.isEmpty())
            return false;
        fileName = name;
        format = std::max<int>(1, static_cast<int>(filters.indexOf(selected)) + 1);
        return true;
    };
    buildLayout(makeBrowser ? makeBrowser
                            : [](QWidget* owner) -> BrowserPanel* { return new TEwbCore(owner); });
    buildActions();
    buildMenus();
    buildToolbar();
    resize(736, 559);
    move(0, 0);
}

Tfrmvrdl::~Tfrmvrdl() = default;

void Tfrmvrdl::buildLayout(const BrowserFactory& makeBrowser) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel2 = new BannerPanel(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(40);
    layout->addWidget(Panel2);

    Label1 = linkLabel(Panel2, "使用说明", 448, 16);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->installEventFilter(
        new ClickFilter(Label1, [this] { runCommand([this] { actaboutExecute(Label1); }); }));
    Lb2 = linkLabel(Panel2, "广告过滤最好的浏览器：Vorsa浏览器下载", 519, 21);
    Lb2->setObjectName(QStringLiteral("Lb2"));
    Lb2->setFixedWidth(216);
    Lb2->installEventFilter(
        new ClickFilter(Lb2, [this] { runCommand([this] { Lb2Click(Lb2); }); }));

    m_grid = new StringGridModel(this);
    sgrid = new QTableView(this);
    sgrid->setObjectName(QStringLiteral("sgrid"));
    sgrid->setModel(m_grid);
    sgrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgrid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    sgrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sgrid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    sgrid->setShowGrid(true);
    sgrid->setWordWrap(false);
    sgrid->verticalHeader()->hide();
    sgrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    sgrid->verticalHeader()->setMinimumSectionSize(18);
    sgrid->verticalHeader()->setDefaultSectionSize(18);
    // The header is row 0 of the string grid: 18 pixels like every other row.
    sgrid->horizontalHeader()->setFixedHeight(18);
    sgrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    sgrid->horizontalHeader()->setStretchLastSection(false);
    sgrid->horizontalHeader()->setHighlightSections(false);
    sgrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < StringGridModel::kColumnCount; ++c)
        sgrid->setColumnWidth(c, 64);
    layout->addWidget(sgrid, 1);
    new GridCursorKeeper(sgrid);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    Panel1->setLineWidth(1);
    Panel1->setFixedHeight(130);
    layout->addWidget(Panel1);
    // eweb fills the panel inside its 1-pixel bevel.
    auto* inside = new QVBoxLayout(Panel1);
    inside->setContentsMargins(0, 0, 0, 0);  // the frame's contents are inside its bevel
    eweb = makeBrowser(Panel1);
    eweb->setObjectName(QStringLiteral("eweb"));
    inside->addWidget(eweb);
    // What the panel loaded is in the URL cache until web verification deletes it.
    connect(eweb, &BrowserPanel::pageLoaded, this,
            [](const QString& url) { UrlCache::instance().record(url.toStdString()); });

    stb1 = new QFrame(this);
    stb1->setObjectName(QStringLiteral("stb1"));
    stb1->setFixedHeight(19);
    auto* bar = new QHBoxLayout(stb1);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(2);
    const int widths[3] = {350, 180, -1};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(stb1);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setContentsMargins(2, 0, 2, 0);
        if (widths[i] > 0)
            l->setFixedWidth(widths[i]);
        bar->addWidget(l, widths[i] > 0 ? 0 : 1);
        stbPanels[i] = l;
    }
    stbPanels[2]->setText(u8("欢迎访问Vorsa软件网站"));
    layout->addWidget(stb1);
}

QAction* Tfrmvrdl::addAction(const char* name, const char* category, const char* caption,
                             const char* hint, int imageIndex) {
    auto* a = new QAction(u8(caption), this);
    a->setObjectName(QString::fromLatin1(name));
    a->setProperty("category", category ? u8(category) : QString());
    a->setProperty("imageIndex", imageIndex);
    if (hint) {
        a->setToolTip(u8(hint));
        a->setStatusTip(u8(hint));
    }
    ActionList1[name] = a;
    return a;
}

void Tfrmvrdl::buildActions() {
    addAction("actdown", "列表", "下载代理列表", "下载代理列表", 0);
    addAction("actcheck", "列表", "验证有效性", "验证有效性", 1);
    addAction("actstop", "列表", "停止验证", "停止验证", 2);
    addAction("actstart", "操作", "设为代理", "设为代理", 3);
    addAction("actstopproxy", "操作", "停止代理", "停止代理", 5);
    addAction("actset", nullptr, "设置按钮", "设置按钮", 11);
    addAction("actabout", nullptr, "关于", "使用说明", 12);
    addAction("actclose", nullptr, "关闭", "退出程序", 13);
    addAction("actvail", "操作", "网页验证", "访问网页验证代理", 10);
    addAction("actsave", "列表", "导出文件", "保存列表到文件", 9);
    addAction("actlistdel", "选择", "删除所选", "删除所选", -1);
    addAction("actgetcity", "列表", "获取地理位置", "获取地理位置", 15);
    addAction("actimport", "列表", "导入代理列表", "导入代理列表", 7);
    addAction("actdwoncheck", "列表", "下载并验证", nullptr, -1);

    // Handlers of the commands that exist; the others stay unbound until their rooms land.
    const std::pair<const char*, void (Tfrmvrdl::*)(QObject*)> bound[] = {
        {"actdown", &Tfrmvrdl::actdownExecute},
        {"actdwoncheck", &Tfrmvrdl::actdwoncheckExecute},
        {"actcheck", nullptr},
        {"actstop", &Tfrmvrdl::actstopExecute},
        {"actlistdel", &Tfrmvrdl::actlistdelExecute},
        {"actstart", &Tfrmvrdl::actstartExecute},
        {"actstopproxy", &Tfrmvrdl::actstopproxyExecute},
        {"actvail", &Tfrmvrdl::actvailExecute},
        {"actset", &Tfrmvrdl::actsetExecute},
        {"actabout", &Tfrmvrdl::actaboutExecute},
        {"actclose", &Tfrmvrdl::actcloseExecute},
        {"actimport", &Tfrmvrdl::actimportExecute},
        {"actsave", &Tfrmvrdl::actsaveExecute},
        {"actgetcity", &Tfrmvrdl::actgetcityExecute},
    };
    for (const auto& [name, handler] : bound) {
        QAction* a = ActionList1[name];
        if (handler)
            connect(a, &QAction::triggered, this,
                    [this, a, h = handler] { runCommand([=, this] { (this->*h)(a); }); });
    }
    connect(ActionList1["actcheck"], &QAction::triggered, this,
            [this] { runCommand([this] { actcheckExecute(); }); });
}

void Tfrmvrdl::buildMenus() {
    popsvr = new QMenu(this);
    popsvr->setObjectName(QStringLiteral("popsvr"));
    const char* captions[kSourceGroups] = {"从国内网站下载", "从国外网站下载", "从特定网站获取"};
    QAction** items[kSourceGroups] = {&mn01, &mn02, &mn03};
    for (int i = 0; i < kSourceGroups; ++i) {
        // No '&' in the captions: the menu gets no access keys.
        QAction* item = popsvr->addAction(u8(captions[i]));
        item->setObjectName(QStringLiteral("mn0%1").arg(i + 1));
        item->setCheckable(true);
        connect(item, &QAction::triggered, this,
                [this, item] { runCommand([=, this] { mn01Click(item); }); });
        *items[i] = item;
    }

    popset = new QMenu(this);
    popset->setObjectName(QStringLiteral("popset"));
    // Bound items show their action's caption and run its handler.
    N2 = ActionList1["actimport"];
    N3 = ActionList1["actgetcity"];
    popset->addAction(N2);
    popset->addAction(N3);
}

void Tfrmvrdl::buildToolbar() {
    struct Button {
        const char* name;
        int x, y, w, h;
        const char* hint;
        void (Tfrmvrdl::*handler)(QObject*);
        const char* action;  // for the command wrapper's name only
        const char* sprite;
    };
    const Button table[] = {
        {"vrpngbtn1", 8, 4, 32, 32, "下载列表", &Tfrmvrdl::actdownExecute, "actdown", "download"},
        {"vrpngbtn11", 46, 6, 32, 32, "下载并验证", &Tfrmvrdl::actdwoncheckExecute, "actdwoncheck",
         "download_check"},
        {"vrpngbtn2", 79, 6, 32, 32, "验证列表", nullptr, "actcheck", "check"},
        {"vrpngbtn3", 117, 6, 32, 32, "停止验证", &Tfrmvrdl::actstopExecute, "actstop", "stop"},
        {"vrpngbtn8", 147, 6, 29, 29, "删除所选", &Tfrmvrdl::actlistdelExecute, "actlistdel",
         "delete"},
        {"vrpngbtn4", 182, 6, 29, 29, "启用代理", &Tfrmvrdl::actstartExecute, "actstart",
         "proxy_on"},
        {"vrpngbtn5", 217, 6, 29, 29, "禁用代理", &Tfrmvrdl::actstopproxyExecute, "actstopproxy",
         "proxy_off"},
        {"vrpngbtn10", 250, 6, 32, 32, "设置", &Tfrmvrdl::actsetExecute, "actset", "settings"},
        {"vrpngbtn9", 280, 6, 19, 28, nullptr, &Tfrmvrdl::vrpngbtn9click, nullptr, "more"},
        {"vrpngbtn7", 305, 6, 32, 32, "保存代理列表", &Tfrmvrdl::actsaveExecute, "actsave", "save"},
        {"vrpngbtn12", 343, 6, 32, 32, "退出程序", &Tfrmvrdl::actcloseExecute, "actclose", "exit"},
        {"btnvail", 381, 6, 29, 29, "网页验证", &Tfrmvrdl::actvailExecute, "actvail", "web_check"},
        {"vrpngbtn6", 416, 6, 29, 29, "软件说明", &Tfrmvrdl::actaboutExecute, "actabout", "about"},
    };
    for (const Button& b : table) {
        auto* btn = new Tvrpngbtn(Panel2);
        btn->setObjectName(QString::fromLatin1(b.name));
        btn->setGeometry(b.x, b.y, b.w, b.h);
        // The strip sets the button's size (here and on every paint), whatever the table says.
        btn->setPicture(sprite(b.sprite));
        if (b.hint)
            btn->setHint(u8(b.hint));
        if (b.handler)
            btn->Onclick = [this, h = b.handler](QObject* sender) {
                runCommand([=, this] { (this->*h)(sender); });
            };
        buttons[b.name] = btn;
    }
    // Which echo page the next "网页验证" opens (0 the external one, 1 the maker's).
    buttons["btnvail"]->setProperty("Tag", 0);
    // The validation start goes through MainHost::actcheckExecute, which takes no Sender.
    buttons["vrpngbtn2"]->Onclick = [this](QObject*) { runCommand([this] { actcheckExecute(); }); };
}

void Tfrmvrdl::runCommand(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        // Messages of the lower layers may carry GBK text (file names, web text).
        QMessageBox::critical(this, u8(kAppTitle), gbk::toUnicode(e.what()));
    } catch (...) {
        QMessageBox::critical(this, u8(kAppTitle), u8("发生未知错误。"));
    }
}

// ---- MainHost ----

void Tfrmvrdl::showinfo(const std::string& text) {
    stbPanels[0]->setText(gbk::toUnicode(text));
    processMessages();
}

void Tfrmvrdl::midshowinfo(const std::string& text) {
    stbPanels[1]->setText(gbk::toUnicode(text));
    processMessages();
}

void Tfrmvrdl::processMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void Tfrmvrdl::pause(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}

ProxyTable& Tfrmvrdl::table() {
    if (!m_table)
        throw std::logic_error("ProxyTable does not exist before the window is shown");
    return *m_table;
}

MainHost::Selection Tfrmvrdl::gridSelection() const {
    const QModelIndexList rows = sgrid->selectionModel()->selectedRows();
    if (rows.isEmpty()) {
        const int r = sgrid->currentIndex().isValid() ? sgrid->currentIndex().row() + 1 : 1;
        return {r, r};
    }
    int top = rows.front().row(), bottom = top;
    for (const QModelIndex& i : rows) {
        top = std::min(top, i.row());
        bottom = std::max(bottom, i.row());
    }
    return {top + 1, bottom + 1};
}

bool Tfrmvrdl::sourceGroupChecked(int item) const {
    const QAction* items[kSourceGroups] = {mn01, mn02, mn03};
    return item >= 0 && item < kSourceGroups && items[item]->isChecked();
}

void Tfrmvrdl::listtable() {
    vorsa::listtable(*this);
}

void Tfrmvrdl::actcheckExecute() {
    if (m_run)
        m_run->actcheckExecute();
}

void Tfrmvrdl::showMessage(const std::string& text) {
    QMessageBox box(this);
    box.setWindowTitle(u8(kAppTitle));
    box.setText(gbk::toUnicode(text));
    box.exec();
}

void Tfrmvrdl::navigate(const std::string& url) {
    // URLs of the program are ASCII (the hosts file holds only such base addresses).
    if (!eweb->Navigate(QString::fromLatin1(url)))
        throw std::runtime_error(gbk::text("浏览器无法打开网址：") + url);
}

// ---- start-up and close ----

void Tfrmvrdl::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        runCommand([this] { FormShow(); });
    }
}

void Tfrmvrdl::FormShow() {
    // 1. initgrid: titles and widths, and the table.
    initgrid(*m_grid);
    for (int c = 0; c < StringGridModel::kColumnCount; ++c)
        sgrid->setColumnWidth(c, gridColumn(c).width);
    // A string grid starts with its first data row current and highlighted.
    sgrid->setCurrentIndex(m_grid->index(0, 0));
    m_table = std::make_unique<ProxyTable>();
    // 2. Panel2 paints under its buttons already (see BannerPanel).
    // 3. The harvest coordinator; creating it starts article-link discovery.
    m_daili = std::make_unique<tdaili>(*this);
    m_daili->OnMessage = [this](const std::string& text) { showinfo(text); };
    m_run = std::make_unique<ValidationRun>(*this);
    m_run->setOnFinalised([this] { autosave(); });
    // 4.
    setWindowTitle(u8(kTitle));
    // 5. The system proxy in force; this process's own networking (the browser panel)
    // follows it from here on.
    refreshFromStore();
    midshowinfo(startupProxyText());
    // 6.
    navigate(startupEchoUrl());
    // 7. and 8.
    DownOption = readdownoption();
    refeshmemu();
    // 9. Check-page settings of hosts.ini that were refused: said once, defaults in force.
    std::string refused;
    for (const std::string& problem : checkSettings().problems)
        refused += (refused.empty() ? "" : "  ") + problem;
    if (!refused.empty())
        showinfo(refused);
}

void Tfrmvrdl::closeEvent(QCloseEvent* event) {
    if (!m_closed) {
        m_closed = true;
        runCommand([this] { FormClose(); });
    }
    event->accept();
}

void Tfrmvrdl::FormClose() {
    savedownoption();
    // From here on, rows and completions of workers still running are dropped, and a
    // validation loop that is still issuing checks stops at its next row.
    harvestShutdown();
    m_state.StopFlag = true;
    // A close in the middle of a run keeps what it has validated so far.
    if (m_run && m_run->running())
        autosave();
    // A harvest of "下载并验证" that ends inside this close must not start its validation.
    if (m_run)
        m_run->shutdown();
    // The close can run inside a command that still holds Daili (its status messages let
    // events run), so the object itself goes with the window, once no handler is on the
    // stack; nothing reaches it after harvestShutdown().
}

void Tfrmvrdl::autosave() {
    // It runs from a check's completion as well as from commands: a file that cannot be
    // written is reported on stderr and never ends the run with an error.
    try {
        autosaveValidated(*this, autosavePath());
    } catch (const std::exception& e) {
        qWarning("vorsa: the validated proxies were not saved: %s",
                 qUtf8Printable(gbk::toUnicode(e.what())));
    }
}

// ---- DownOption ----

std::string Tfrmvrdl::readdownoption() {
    std::string v = SettingsStore("VORSASOFT", "vorsadaili").readString("downoption");
    return v.empty() ? "100" : v;
}

void Tfrmvrdl::savedownoption() {
    // A store that cannot be written is passed over without a message.
    SettingsStore("VORSASOFT", "vorsadaili").writeString("downoption", DownOption);
}

void Tfrmvrdl::refeshmemu() {
    const std::string marks = DownOption.size() == kSourceGroups ? DownOption : std::string("100");
    QAction* items[kSourceGroups] = {mn01, mn02, mn03};
    for (int i = 0; i < kSourceGroups; ++i)
        items[i]->setChecked(marks[static_cast<std::size_t>(i)] == '1');
}

void Tfrmvrdl::mn01Click(QAction*) {
    // The clicked item's check mark was toggled by the menu (checkable items toggle
    // themselves); DownOption is rebuilt from all three marks.
    DownOption.clear();
    for (QAction* item : {mn01, mn02, mn03})
        DownOption += item->isChecked() ? '1' : '0';
}

// ---- command handlers ----

void Tfrmvrdl::actdownExecute(QObject*) {
    if (m_daili)
        vorsa::actdownExecute(*this, *m_daili);
}

void Tfrmvrdl::actdwoncheckExecute(QObject*) {
    if (m_daili)
        vorsa::actdwoncheckExecute(*this, *m_daili);
}

void Tfrmvrdl::actstopExecute(QObject*) {
    if (m_run)
        m_run->actstopExecute();
}

void Tfrmvrdl::actlistdelExecute(QObject*) {
    vorsa::actlistdelExecute(*this);
}

void Tfrmvrdl::actstartExecute(QObject*) {
    vorsa::actstartExecute(*this);
}

void Tfrmvrdl::actstopproxyExecute(QObject*) {
    vorsa::actstopproxyExecute(*this);
}

void Tfrmvrdl::actvailExecute(QObject*) {
    Tvrpngbtn* btnvail = buttons.at("btnvail");
    int tag = btnvail->property("Tag").toInt();
    vorsa::actvailExecute(*this, tag);
    btnvail->setProperty("Tag", tag);
}

void Tfrmvrdl::actsetExecute(QObject*) {
    popsvr->popup(QCursor::pos());
}

void Tfrmvrdl::vrpngbtn9click(QObject*) {
    popset->popup(QCursor::pos());
}

void Tfrmvrdl::actaboutExecute(QObject*) {
    openInBrowser(QString::fromStdString(hostBase("maker")) + QString::fromLatin1(kHelpPath));
    showAboutBox();
}

void Tfrmvrdl::Lb2Click(QObject*) {
    openInBrowser(QString::fromStdString(hostBase("maker")) + QString::fromLatin1(kBrowserPath));
}

void Tfrmvrdl::actcloseExecute(QObject*) {
    close();
}

void Tfrmvrdl::actimportExecute(QObject*) {
    const QString name = chooseImportFile();
    if (name.isEmpty())
        return;
    importChosenFile(*this, QFile::encodeName(name).toStdString());
}

void Tfrmvrdl::actsaveExecute(QObject*) {
    QString name = QFile::decodeName(QByteArray::fromStdString(m_exportChoice.fileName));
    int format = m_exportChoice.format;
    if (!chooseExportFile(name, format))
        return;
    exportChosenFile(table(), m_exportChoice, QFile::encodeName(name).toStdString(), format);
}

void Tfrmvrdl::actgetcityExecute(QObject*) {
    getcity(*this);
}
