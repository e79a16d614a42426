#pragma once
// The main window's sections, in sidebar order, and the shared holder of
// the selected one.

#include <QObject>
#include <QString>
#include <array>

namespace vorel {

enum class Section { history, chart, details, exportCsv, pricing, about };

inline constexpr std::array<Section, 6> kAllSections{Section::history, Section::chart,   Section::details,
                                                     Section::exportCsv, Section::pricing, Section::about};

QString sectionTitle(Section s);
// The symbol name the sidebar shows for a section.
QString sectionSymbol(Section s);
// The section named by VOREL_SECTION's value ("chart", "details", "export",
// "pricing", "about"; anything else is the history).
Section sectionFromName(const QString& name);

class NavState : public QObject {
    Q_OBJECT
public:
    static NavState& shared();

    Section section() const { return section_; }
    void setSection(Section s);

signals:
    void sectionChanged(vorel::Section section);

private:
    Section section_ = Section::history;
};

}  // namespace vorel
