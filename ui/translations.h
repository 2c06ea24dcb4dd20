#pragma once

class QCoreApplication;

namespace busdesk::ui {

// Loads Qt's own Russian texts so standard buttons read "Да", "Нет", "Отмена".
// Returns false when the translation file is missing.
bool InstallRussian(QCoreApplication& app);

}  // namespace busdesk::ui
