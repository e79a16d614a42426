#pragma once
// The plain line, shown in the main window and in the panel alike, that
// tells the user when names and notes are not safely on disk: while changes
// wait because the metadata file could not be written (gone as soon as a
// save succeeds), all the time when there is no file to write them to (no
// home folder), and, after an unreadable file was moved aside, where it was
// kept (until dismissed).

#include <QWidget>
#include <string>

#include "engine/ChangeNotifier.h"

class QLabel;
class QToolButton;

namespace vorel {

class MetadataStore;

class SaveStatusLine : public QWidget {
    Q_OBJECT
public:
    // The store must outlive the line.
    explicit SaveStatusLine(MetadataStore& store, QWidget* parent = nullptr);
    ~SaveStatusLine() override;

    QLabel* errorLabel() const { return error_; }
    QLabel* noticeLabel() const { return notice_; }
    QToolButton* dismissButton() const { return dismiss_; }

    // "Names and notes could not be saved: <reason>."
    static QString errorText(const std::string& reason);
    // That names and notes last only as long as the process, and why.
    static QString inMemoryOnlyText();
    // What became of an unreadable file kept as `asideName`.
    static QString noticeText(const std::string& asideName);

private:
    void showStatus();
    void applyColors();

    MetadataStore& store_;
    ChangeNotifier::Token token_;
    QLabel* error_;
    QWidget* noticeRow_;
    QLabel* notice_;
    QToolButton* dismiss_;
};

}  // namespace vorel
