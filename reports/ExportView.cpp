#include "reports/ExportView.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Appearance.h"
#include "reports/CSVExport.h"
#include "shell/AppModel.h"
#include "shell/Formatting.h"
#include "shell/PlainLabel.h"
#include "shell/TextPage.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

// What the file holds, in the words the export gives its columns.
QString description() {
    const std::vector<std::string_view> words = CSVExport::describedColumns();
    QString list;
    for (size_t i = 0; i < words.size(); ++i) {
        if (i > 0) list += i + 1 == words.size() ? QStringLiteral(", and ") : QStringLiteral(", ");
        list += qs(words[i]);
    }
    return QStringLiteral("Save a CSV of every conversation \u2014 ") + list + QStringLiteral(".");
}

}  // namespace

ExportView::ExportView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setMinimumSize(460, 380);
    setAutoFillBackground(true);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new ScreenHeader(QStringLiteral("Export"), QStringLiteral("exportHeading"), QString(),
                                    QStringLiteral("exportCount"));
    count_ = header->subtitle();
    root->addLayout(header);

    root->addWidget(new Hairline);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(20, 20, 20, 20);
    body->setSpacing(16);
    body->addWidget(wrappingLabel(description(), QStringLiteral("exportDescription"), BrandFont::sans(13)));

    button_ = new QPushButton(QStringLiteral("Export CSV\u2026"));
    button_->setObjectName(QStringLiteral("exportButton"));
    button_->setFont(BrandFont::sans(13, QFont::Medium));
    button_->setAutoDefault(false);
    // A click does not take the focus, so none is handed back to the button
    // when the save dialog closes; the keyboard still reaches it with Tab.
    button_->setFocusPolicy(Qt::TabFocus);
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
    BrandColor::setBackground(this, BrandColor::bg());

    for (QLabel* w : findChildren<QLabel*>()) {
        const QString role = w->objectName();
        if (role == QLatin1String("exportHeading")) BrandColor::setTextColor(w, BrandColor::text());
        else if (role == QLatin1String("exportCount") || role == QLatin1String("exportDescription"))
            BrandColor::setTextColor(w, BrandColor::textMuted());
    }
    QColor pressed = BrandColor::accent();
    pressed.setAlphaF(0.6f);
    // Focus from the keyboard shows as a thicker outline in the accent, not
    // as the desktop style's dotted frame; the padding keeps the label in
    // place.
    button_->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: transparent; border: 1px solid %1;"
                                          " border-radius: 6px; padding: 8px 16px; outline: none; }"
                                          "QPushButton:focus { border-width: 2px; padding: 7px 15px; }"
                                          "QPushButton:pressed { color: %2; border-color: %2; }")
                               .arg(BrandColor::css(BrandColor::accent()), BrandColor::css(pressed)));
}

}  // namespace vorel
