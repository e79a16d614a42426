#include "shell/SaveStatusLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

SaveStatusLine::SaveStatusLine(MetadataStore& store, QWidget* parent) : QWidget(parent), store_(store) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(6);
    error_ = wrappingLabel(QString(), QStringLiteral("saveError"), BrandFont::sans(11));
    v->addWidget(error_);

    noticeRow_ = new QWidget;
    auto* row = new QHBoxLayout(noticeRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    notice_ = wrappingLabel(QString(), QStringLiteral("setAsideNotice"), BrandFont::sans(11));
    row->addWidget(notice_, 1);
    dismiss_ = new QToolButton;
    dismiss_->setAutoRaise(true);
    dismiss_->setFocusPolicy(Qt::TabFocus);
    dismiss_->setIconSize(QSize(12, 12));
    dismiss_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    dismiss_->setToolTip(QStringLiteral("Dismiss"));
    dismiss_->setAccessibleName(QStringLiteral("Dismiss"));
    dismiss_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0px; }"));
    row->addWidget(dismiss_, 0, Qt::AlignTop);
    v->addWidget(noticeRow_);

    connect(dismiss_, &QToolButton::clicked, this, [this] { store_.dismissSetAsideNotice(); });
    token_ = store_.statusChanged().subscribe([this] { showStatus(); });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &SaveStatusLine::applyColors);
    applyColors();
    showStatus();
}

SaveStatusLine::~SaveStatusLine() { store_.statusChanged().unsubscribe(token_); }

QString SaveStatusLine::errorText(const std::string& reason) {
    if (reason.empty()) return QStringLiteral("Names and notes could not be saved.");
    return QStringLiteral("Names and notes could not be saved: %1.").arg(QString::fromStdString(reason));
}

QString SaveStatusLine::inMemoryOnlyText() {
    return QStringLiteral(
        "Names and notes are kept only until Vorel quits: there is no home folder to save them in.");
}

QString SaveStatusLine::noticeText(const std::string& asideName) {
    return QStringLiteral("metadata.json could not be read, so names and notes start empty. The file was kept as %1.")
        .arg(QString::fromStdString(asideName));
}

void SaveStatusLine::showStatus() {
    const bool inMemory = store_.isInMemoryOnly();
    const bool unsaved = inMemory || store_.hasUnsavedChanges();
    const bool setAside = !store_.setAsideName().empty();
    error_->setText(inMemory ? inMemoryOnlyText() : unsaved ? errorText(store_.saveError()) : QString());
    error_->setVisible(unsaved);
    notice_->setText(setAside ? noticeText(store_.setAsideName()) : QString());
    noticeRow_->setVisible(setAside);
    setVisible(unsaved || setAside);
}

void SaveStatusLine::applyColors() {
    const QString warn = QStringLiteral("color: %1;").arg(BrandColor::css(BrandColor::warn()));
    error_->setStyleSheet(warn);
    BrandColor::setTextColor(notice_, BrandColor::textMuted());
    dismiss_->setIcon(platform::symbolIcon(QStringLiteral("xmark"), BrandColor::textMuted(), 12));
}

}  // namespace vorel
