#pragma once
// Whether the desktop asks for dark or light colours. Read from the
// desktop's colour-scheme setting (the XDG settings portal) where one
// answers, else from the application palette; followed while running.

#include <QObject>
#include <optional>

class QDBusVariant;

namespace vorel::platform {

class Appearance : public QObject {
    Q_OBJECT
public:
    static Appearance& shared();

    bool isDark() const { return dark_; }

    // Forces dark or light (tests); nullopt returns to the desktop's choice.
    void setOverride(std::optional<bool> dark);

    // Sets the application palette without taking it for the desktop's:
    // the palette the application draws with follows the appearance, so it
    // must not decide it in turn.
    void setApplicationPalette(const class QPalette& palette);

signals:
    void changed();

private:
    Appearance();
    void resolve();
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    std::optional<int> portalScheme_;  // 0 no preference, 1 dark, 2 light
    std::optional<bool> override_;
    bool desktopPaletteDark_ = false;
    bool settingPalette_ = false;
    bool dark_ = false;
};

}  // namespace vorel::platform
