#include "shell/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QVBoxLayout>
#include <QShowEvent>
#include <algorithm>

#include "engine/Settings.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "shell/AppModel.h"
#include "shell/Formatting.h"
#include "shell/MainMenu.h"
#include "shell/SaveStatusLine.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

MainWindow* gWindow = nullptr;
bool gQuitOnClose = false;

std::map<Section, ScreenFactory>& factories() {
    static std::map<Section, ScreenFactory> f;
    return f;
}

QWidget* placeholder(Section s) {
    auto* w = new QWidget;
    auto* layout = new QVBoxLayout(w);
    auto* label = new QLabel(sectionTitle(s));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setFont(BrandFont::sans(13));
    BrandColor::setTextColor(label, BrandColor::textFaint());
    layout->addWidget(label);
    return w;
}

}  // namespace

MainWindow& MainWindow::shared() {
    Q_ASSERT(gWindow);
    return *gWindow;
}

MainWindow* MainWindow::existing() { return gWindow; }

void MainWindow::registerScreen(Section s, ScreenFactory factory) { factories()[s] = std::move(factory); }

void MainWindow::setQuitOnClose(bool quit) { gQuitOnClose = quit; }

void MainWindow::show(AppModel& model, Section section) {
    NavState::shared().setSection(section);
    if (!gWindow) {
        gWindow = new MainWindow(model);
        const Settings& settings = Settings::current();
        int w = settings.windowWidth.value_or(kDefaultSize.width());
        int h = settings.windowHeight.value_or(kDefaultSize.height());
        gWindow->resize(std::max(w, gWindow->minimumWidth()), std::max(h, gWindow->minimumHeight()));
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->availableGeometry();
            gWindow->move(area.center() - gWindow->rect().center());
        }
    }
    gWindow->showSection(NavState::shared().section());
    // Shown as the user left it: a minimized window comes back, a maximized
    // one stays maximized.
    gWindow->setWindowState(gWindow->windowState() & ~Qt::WindowMinimized);
    gWindow->setVisible(true);
    gWindow->raise();
    gWindow->activateWindow();
}

MainWindow::MainWindow(AppModel& model) : QWidget(nullptr), model_(model) {
    setWindowTitle(QStringLiteral("Vorel"));
    setMinimumSize(kMinimumSize);
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    // The menus carry the window's shortcuts (close, quit, editing).
    menu_ = new MainMenu(this);
    root->setMenuBar(menu_);
    root->addWidget(buildSidebar());
    root->addWidget(buildContentPane(), 1);
    connectSignals();
    applyTheme();
    updateFooter();
}

// The six sections, and today's total at the foot.
QWidget* MainWindow::buildSidebar() {
    sidebarPane_ = new QWidget;
    sidebarPane_->setObjectName(QStringLiteral("sidebar"));
    sidebarPane_->setAttribute(Qt::WA_StyledBackground, true);
    sidebarPane_->setMinimumWidth(176);
    sidebarPane_->setMaximumWidth(220);
    sidebarPane_->setFixedWidth(kSidebarWidth);
    auto* side = new QVBoxLayout(sidebarPane_);
    side->setContentsMargins(0, 8, 0, 0);
    side->setSpacing(2);

    sidebar_ = new QListWidget;
    sidebar_->setFrameShape(QFrame::NoFrame);
    sidebar_->setIconSize(QSize(16, 16));
    sidebar_->setFocusPolicy(Qt::StrongFocus);
    for (Section s : kAllSections) {
        auto* item = new QListWidgetItem(sectionTitle(s));
        item->setData(Qt::UserRole, static_cast<int>(s));
        item->setFont(BrandFont::sans(13, QFont::Medium));
        item->setSizeHint(QSize(0, 28));
        sidebar_->addItem(item);
    }
    connect(sidebar_, &QListWidget::currentRowChanged, this, [](int row) {
        if (row >= 0 && row < static_cast<int>(kAllSections.size())) NavState::shared().setSection(kAllSections[row]);
    });
    // A selection of no row (Ctrl+click on the selected row, or a cleared
    // current row) is ignored: the section stays, and so does its highlight.
    connect(sidebar_, &QListWidget::itemSelectionChanged, this, [this] {
        if (sidebar_->selectedItems().isEmpty()) selectSidebarRow(NavState::shared().section());
    });
    side->addWidget(sidebar_, 1);

    side->addWidget(new Hairline);
    auto* footer = new QWidget;
    auto* footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(12, 8, 12, 8);
    todayLabel_ = new QLabel(QStringLiteral("Today"));
    todayLabel_->setFont(BrandFont::sans(11));
    todayAmount_ = new QLabel;
    todayAmount_->setObjectName(QStringLiteral("todayAmount"));
    todayAmount_->setFont(BrandFont::sansMonospacedDigits(12, QFont::DemiBold));
    footerRow->addWidget(todayLabel_);
    footerRow->addStretch(1);
    footerRow->addWidget(todayAmount_);
    side->addWidget(footer);
    return sidebarPane_;
}

// Where the section's screen goes, above the save-failure line.
QWidget* MainWindow::buildContentPane() {
    auto* contentPane = new QWidget;
    contentPane->setMinimumWidth(560);
    content_ = new QVBoxLayout(contentPane);
    content_->setContentsMargins(0, 0, 0, 0);
    content_->setSpacing(0);
    // Below every screen: whether names and notes are safely saved. When it
    // shows or goes, the screen's foot moves, never what lies under the
    // caret of a name being typed; its text starts where the screens' does.
    saveStatus_ = new SaveStatusLine(model_.meta());
    saveStatus_->setContentsMargins(kContentMargin, 8, kContentMargin, 10);
    content_->addWidget(saveStatus_);
    return contentPane;
}

void MainWindow::connectSignals() {
    connect(&NavState::shared(), &NavState::sectionChanged, this, [this](Section s) { showSection(s); });
    connect(&model_, &AppModel::refreshed, this, [this] {
        if (isVisible()) updateFooter();
        else staleFooter_ = true;
    });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, [this] { applyTheme(); });
}

void MainWindow::selectSidebarRow(Section s) {
    int row = static_cast<int>(std::find(kAllSections.begin(), kAllSections.end(), s) - kAllSections.begin());
    if (sidebar_->currentRow() != row || !sidebar_->item(row)->isSelected()) {
        QSignalBlocker block(sidebar_);
        sidebar_->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    }
}

void MainWindow::showSection(Section s) {
    selectSidebarRow(s);
    if (shown_ == s && screen_) return;
    // Leaving a section discards its screen and the state it held.
    if (screen_) {
        content_->removeWidget(screen_);
        screen_->deleteLater();
    }
    auto it = factories().find(s);
    screen_ = it != factories().end() ? it->second(model_) : placeholder(s);
    content_->insertWidget(0, screen_, 1);
    shown_ = s;
    fitToScreen();
}

// A screen that needs more room than the window's own minimum widens the
// window rather than being cut off at its right edge (the screens here all
// fit: see kNarrowestScreen), and one that needs more height than is left
// under the menu bar (and the save-failure line, while it shows) makes the
// window taller rather than losing its foot below the window's edge. The
// minimum follows the screen shown and the line, so the window can be made
// small again after them.
void MainWindow::fitToScreen() {
    if (!screen_) return;
    const int width = sidebarPane_->width() + std::max(screen_->minimumWidth(), screen_->minimumSizeHint().width());
    const QSize needed = QSize(width, layout()->totalMinimumSize().height()).expandedTo(kMinimumSize);
    if (minimumSize() != needed) setMinimumSize(needed);
    if (this->width() < needed.width() || this->height() < needed.height()) resize(size().expandedTo(needed));
}

bool MainWindow::event(QEvent* e) {
    const bool handled = QWidget::event(e);
    // A screen shown or gone, or the save-failure line shown or hidden.
    if (e->type() == QEvent::LayoutRequest) fitToScreen();
    return handled;
}

void MainWindow::updateFooter() {
    staleFooter_ = false;
    todayAmount_->setText(money(model_.model().todayCost()));
}

void MainWindow::showEvent(QShowEvent* e) {
    // Passes that ran while the window was hidden only marked the footer.
    if (staleFooter_) updateFooter();
    QWidget::showEvent(e);
}

void MainWindow::applyTheme() {
    QPalette pal = palette();
    pal.setColor(QPalette::Window, BrandColor::windowBG());
    pal.setColor(QPalette::WindowText, BrandColor::text());
    setPalette(pal);
    setAutoFillBackground(true);
    sidebarPane_->setStyleSheet(QStringLiteral("#sidebar { background: %1; }").arg(BrandColor::css(BrandColor::bgSubtle())));
    sidebar_->setStyleSheet(QStringLiteral(
        "QListWidget { background: transparent; border: none; outline: none; color: %1; padding: 0 8px; }"
        "QListWidget::item { padding: 2px 6px; border-radius: 6px; }"
        "QListWidget::item:selected { background: %2; color: %1; }"
        "QListWidget::item:hover:!selected { background: %3; }")
                                .arg(BrandColor::css(BrandColor::text()), BrandColor::css(BrandColor::border()),
                                     BrandColor::css(BrandColor::bg())));
    for (int i = 0; i < sidebar_->count(); ++i) {
        sidebar_->item(i)->setIcon(platform::symbolIcon(sectionSymbol(kAllSections[i]), BrandColor::accent(), 16));
    }
    BrandColor::setTextColor(todayLabel_, BrandColor::textMuted());
    BrandColor::setTextColor(todayAmount_, BrandColor::text());
}

void MainWindow::closeEvent(QCloseEvent* e) {
    // The window is kept: it comes back as it was from the status item.
    e->ignore();
    hide();
    if (gQuitOnClose) QCoreApplication::exit(0);
}

}  // namespace vorel
