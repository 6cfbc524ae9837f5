#pragma once

#include "Dialogs.h"

// The real panels and message boxes.
class WidgetDialogs final : public Dialogs {
public:
    void alert(QWidget* parent, AlertStyle style, const QString& title,
               const QString& text) override;
    bool confirmDelete(QWidget* parent, const QString& title, const QString& text) override;
    std::optional<QString> saveJsonFile(QWidget* parent, const QString& suggestedName) override;
    std::optional<QString> openJsonFile(QWidget* parent) override;
    std::optional<ScheduledTask> addTask(QWidget* parent, TaskStore& store) override;
    void editTask(QWidget* parent, TaskStore& store, const ScheduledTask& task) override;
    void testRun(QWidget* parent, const ScheduledTask& task) override;
    std::optional<QString> chooseFolder(QWidget* parent) override;
    std::optional<QString> chooseFile(QWidget* parent) override;
    std::optional<QString> chooseShortcut(QWidget* parent) override;
    std::optional<std::pair<QString, QString>> mailTemplate(QWidget* parent) override;
};
