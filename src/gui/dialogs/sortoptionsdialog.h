#pragma once

#include <core/settings/settingswriter.h>
#include <gui/platform/controltable.h>

#include <QWidget>

#include <span>

class QButtonGroup;
class QLabel;
class QPushButton;

// The sort options dialog: the user picks the record order and saves it to settings.ini,
// where the next start of the main window reads it. It never reads the file: every new
// instance starts with Last Name selected.
class SortOptionsDialog : public QWidget
{
    Q_OBJECT

public:
    explicit SortOptionsDialog(QWidget *parent = nullptr);
    ~SortOptionsDialog() override;

    // The dialog's controls as they are made.
    static std::span<const platform::LayoutControl> layout();
    // What lblDescription says while the sort type's option is selected.
    static QString description(settings::SortType type);

    // The Click handler of cmdSave: replaces settings.ini with the selected sort type and says
    // whether that worked. The dialog stays open.
    void save();

private:
    void showDescription(const QString &text);

    // optLast, optFirst and optId, their ids the settings::SortType each stands for.
    QButtonGroup *m_sortType = nullptr;
    QPushButton *m_cmdSave = nullptr;
    QPushButton *m_cmdClose = nullptr;
    QLabel *m_lblDescription = nullptr;
};
