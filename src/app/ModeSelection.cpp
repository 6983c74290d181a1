#include "ModeSelection.h"

#include <QApplication>
#include <QMessageBox>

#include "Cp1251.h"
#include "InstalledMarker.h"
#include "InstallerTexts.h"
#include "VexorKCryptoProInstaller.h"

namespace {
constexpr auto kRemoveQuestion = cp1251("Quellon Vexor K для Крипто Про уже установлено! Удалить?");
} // namespace

std::optional<int> ModeSelection::run(VexorKCryptoProInstaller& window)
{
    if (!isInstalled())
        return std::nullopt;

    const auto answer = QMessageBox::question(nullptr, fromCp1251(kInstallerBoxTitle.c_str()),
                                              fromCp1251(kRemoveQuestion.c_str()),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return 0;

    window.setModeTitle(false);
    window.show();
    window.uninstall();
    window.setModeTitle(true);
    return QApplication::exec();
}
