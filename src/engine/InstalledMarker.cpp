#include "InstalledMarker.h"

#include "RegistrationLayout.h"
#include "WinRegistrySettings.h"

bool isInstalled()
{
    WinRegistrySettings markerStore(
        WinRegistrySettings::Registry32Format, WinRegistrySettings::SystemScope,
        RegistrationLayout::markerOrganization(), RegistrationLayout::markerApplication());
    const QVariant marker =
        markerStore.value(RegistrationLayout::markerPath(), QStringLiteral("0"));
    return marker.toString() == RegistrationLayout::markerInstalled();
}
