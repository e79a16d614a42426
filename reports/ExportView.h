#pragma once
// The Export section: what the CSV file holds and one button that saves it.
// The export always covers every conversation the cost model knows, whatever
// window the other screens show.

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace vorel {

class AppModel;

class ExportView : public QWidget {
    Q_OBJECT
public:
    explicit ExportView(AppModel& model, QWidget* parent = nullptr);

    // Asks where to save: the chosen path, or empty when the user cancels.
    using SaveDialog = std::function<QString(QWidget* parent, const QString& proposedName)>;
    // Tells the user that the export failed.
    using FailureReporter = std::function<void(QWidget* parent, const QString& message)>;

    // The standard dialogs; tests put others in.
    void setSaveDialog(SaveDialog dialog) { saveDialog_ = std::move(dialog); }
    void setFailureReporter(FailureReporter reporter) { reportFailure_ = std::move(reporter); }

    // A file dialog titled "Export conversation costs" for CSV files,
    // offering `proposedName`; the .csv suffix is added to a name without
    // one.
    static QString runSaveDialog(QWidget* parent, const QString& proposedName);
    // A warning message box with the message as plain text.
    static void showFailure(QWidget* parent, const QString& message);

    QPushButton* exportButton() const { return button_; }
    QLabel* countLine() const { return count_; }

    // The export, as the button runs it.
    void exportNow();

private:
    void updateCount();
    void applyColors();

    AppModel& model_;
    QLabel* count_;
    QPushButton* button_;
    SaveDialog saveDialog_ = runSaveDialog;
    FailureReporter reportFailure_ = showFailure;
};

}  // namespace vorel
