#include "shell/MenuContent.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>
#include <unordered_set>

#include "engine/CostModel.h"
#include "platform/Appearance.h"
#include "shell/AppModel.h"
#include "shell/CommandButton.h"
#include "shell/HeroToday.h"
#include "shell/MainWindow.h"
#include "shell/PlainLabel.h"
#include "shell/SaveStatusLine.h"
#include "shell/Theme.h"
#include "shell/TodayRow.h"

namespace vorel {

CommandRow::CommandRow(AppModel& app, QWidget* parent) : QWidget(parent) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(14);
    open_ = new CommandButton(QStringLiteral("Open Vorel"));
    quit_ = new CommandButton(QStringLiteral("Quit"));
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    h->addWidget(open_);
    h->addStretch(1);
    h->addWidget(quit_);

    connect(open_, &QAbstractButton::clicked, this, [this, &app] {
        window()->close();
        MainWindow::show(app, Section::history);
    });
    // Nothing needs saving: every change is already in the metadata file.
    // The event loop ends at once; QApplication::quit() would first ask
    // every window to close, and the main window, which only hides when
    // closed, would cancel the quit.
    connect(quit_, &QAbstractButton::clicked, qApp, [] { QCoreApplication::exit(0); });
}

// ---------------------------------------------------------------------------

MenuContent::MenuContent(AppModel& app, QWidget* parent) : QWidget(parent), app_(app) {
    setFixedWidth(kWidth);
    setAutoFillBackground(true);

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(14);

    v->addWidget(new SaveStatusLine(app.meta()));
    hero_ = new HeroToday(app.model());
    v->addWidget(hero_);
    v->addWidget(new Hairline);

    auto* list = new QVBoxLayout;
    list->setSpacing(10);
    auto* header = new QHBoxLayout;
    header->addWidget(microLabel(QStringLiteral("Today's conversations")));
    header->addStretch(1);
    header->addWidget(microLabel(QStringLiteral("Today's costs")));
    list->addLayout(header);
    empty_ = plainLabel(QStringLiteral("No conversations yet today."), BrandFont::sans(12));
    list->addWidget(empty_);
    rowsLayout_ = new QVBoxLayout;
    rowsLayout_->setSpacing(10);
    list->addLayout(rowsLayout_);
    more_ = plainLabel(QString(), BrandFont::sans(11));
    list->addWidget(more_);
    v->addLayout(list);

    v->addWidget(new Hairline);
    commands_ = new CommandRow(app);
    v->addWidget(commands_);

    // A tick updates what is shown in place; a hidden panel only notes that
    // it is behind and catches up when it shows.
    connect(&app_, &AppModel::refreshed, this, [this] {
        if (isVisible()) refresh();
        else stale_ = true;
    });
    connect(&app_, &AppModel::metaChanged, this, [this] {
        if (isVisible()) refreshTopics();
        else stale_ = true;
    });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &MenuContent::applyColors);
    applyColors();
    refresh();
}

void MenuContent::refresh() {
    stale_ = false;
    const TimePoint now = clock().now();
    const CostModel& model = app_.model();
    hero_->refresh(now);

    const std::vector<SessionRow>& all = model.todayRows();
    const SessionRow* header = model.headerRow();
    const size_t shown = std::min(all.size(), kMaxRows);

    std::unordered_set<std::string> listed;
    std::vector<TodayRow*> order;
    order.reserve(shown);
    for (size_t i = 0; i < shown; ++i) {
        const SessionRow& row = all[i];
        TodayRow* w = byId_.obtain(row.id, [&] { return new TodayRow(app_.meta(), row.id, this); }).widget;
        w->setRow(row, header && header->id == row.id, now);
        listed.insert(row.id);
        order.push_back(w);
    }
    // Rows no longer listed go.
    for (TodayRow* w : byId_.keepOnly([&](const std::string& id) { return listed.count(id) > 0; })) {
        rowsLayout_->removeWidget(w);
    }
    for (int i = 0; i < static_cast<int>(order.size()); ++i) {
        if (rowsLayout_->indexOf(order[i]) != i) {
            rowsLayout_->removeWidget(order[i]);
            rowsLayout_->insertWidget(i, order[i]);
        }
        if (order[i]->isHidden()) order[i]->show();
    }

    empty_->setVisible(all.empty());
    more_->setVisible(all.size() > kMaxRows);
    if (all.size() > kMaxRows) {
        more_->setText(QStringLiteral("Showing latest %1 of %2.").arg(shown).arg(all.size()));
    }
}

void MenuContent::refreshClock() {
    const TimePoint now = clock().now();
    hero_->refresh(now);
    for (TodayRow* r : rows()) r->updateClock(now);
}

void MenuContent::refreshTopics() {
    for (TodayRow* r : rows()) r->refreshTopic();
}

std::vector<TodayRow*> MenuContent::rows() const {
    std::vector<TodayRow*> out;
    for (int i = 0; i < rowsLayout_->count(); ++i) {
        if (auto* r = qobject_cast<TodayRow*>(rowsLayout_->itemAt(i)->widget())) out.push_back(r);
    }
    return out;
}

void MenuContent::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    // The date and the ages are worked out whenever the panel shows.
    if (stale_) refresh();
    else refreshClock();
}

void MenuContent::applyColors() {
    BrandColor::setBackground(this, BrandColor::bg());
    BrandColor::setTextColor(empty_, BrandColor::textFaint());
    BrandColor::setTextColor(more_, BrandColor::textFaint());
}

}  // namespace vorel
