#include "ExportView.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "AppModel.h"
#include "Appearance.h"
#include "CSVExport.h"
#include "Theme.h"

namespace vorel {

namespace {

QLabel* plainLabel(const QString& text, const QString& role, const QFont& font) {
    auto* label = new QLabel(text);
    label->setObjectName(role);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

}  // namespace

ExportView::ExportView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setMinimumSize(460, 380);
    setAutoFillBackground(true);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 16, 20, 16);
    header->setSpacing(0);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    titles->addWidget(plainLabel(QStringLiteral("Export"), QStringLiteral("exportHeading"),
                                 BrandFont::sans(19, QFont::DemiBold)));
    count_ = plainLabel(QString(), QStringLiteral("exportCount"), BrandFont::sans(12));
    titles->addWidget(count_);
    header->addLayout(titles);
    header->addStretch(1);
    root->addLayout(header);

    root->addWidget(new Hairline);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(20, 20, 20, 20);
    body->setSpacing(16);
    QLabel* description = plainLabel(
        QStringLiteral("Save a CSV of every conversation \u2014 source, name, subtitle, tags, project, start and "
                       "last-active time, costs (today, total, and the subagent share), token count, primary model, "
                       "whether any pricing was estimated, and the per-model and per-subagent breakdowns."),
        QStringLiteral("exportDescription"), BrandFont::sans(13));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    body->addWidget(description);

    button_ = new QPushButton(QStringLiteral("Export CSV\u2026"));
    button_->setObjectName(QStringLiteral("exportButton"));
    button_->setFont(BrandFont::sans(13, QFont::Medium));
    button_->setAutoDefault(false);
    connect(button_, &QPushButton::clicked, this, &ExportView::exportNow);
    body->addWidget(button_, 0, Qt::AlignLeading);
    body->addStretch(1);
    root->addLayout(body, 1);

    connect(&model_, &AppModel::refreshed, this, &ExportView::updateCount);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, [this] { applyColors(); });
    updateCount();
    applyColors();
}

void ExportView::updateCount() {
    count_->setText(QString::number(model_.model().allRows().size()) +
                    QStringLiteral(" conversations \u00b7 API-equivalent estimates"));
}

void ExportView::exportNow() {
    const CSVExport::SaveResult result =
        CSVExport::save(model_.model().allRows(), model_.meta(), [this](const QString& proposedName) {
            return saveDialog_ ? saveDialog_(this, proposedName) : QString();
        });
    if (result.status == CSVExport::SaveResult::Status::failed && reportFailure_)
        reportFailure_(this, CSVExport::failureMessage(result));
}

QString ExportView::runSaveDialog(QWidget* parent, const QString& proposedName) {
    QFileDialog dialog(parent, QStringLiteral("Export conversation costs"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("CSV files (*.csv)"));
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(proposedName);
    if (parent) parent->window()->activateWindow();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.first();
}

void ExportView::showFailure(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Export failed"), message, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void ExportView::applyColors() {
    QPalette page = palette();
    page.setColor(QPalette::Window, BrandColor::bg());
    setPalette(page);

    auto paint = [](QWidget* w, const QColor& c) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::WindowText, c);
        w->setPalette(pal);
    };
    for (QLabel* w : findChildren<QLabel*>()) {
        const QString role = w->objectName();
        if (role == QLatin1String("exportHeading")) paint(w, BrandColor::text());
        else if (role == QLatin1String("exportCount") || role == QLatin1String("exportDescription"))
            paint(w, BrandColor::textMuted());
    }
    QColor pressed = BrandColor::accent();
    pressed.setAlphaF(0.6f);
    button_->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: transparent; border: 1px solid %1;"
                                          " border-radius: 6px; padding: 8px 16px; }"
                                          "QPushButton:pressed { color: %2; border-color: %2; }")
                               .arg(BrandColor::css(BrandColor::accent()), BrandColor::css(pressed)));
}

}  // namespace vorel
