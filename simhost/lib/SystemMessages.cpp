#include "SystemMessages.h"

#include "SimulatedWinApi.h"

#include <QHash>

QString SystemMessages::text(long code)
{
    static const QHash<long, QString> texts = {
        {ERROR_SUCCESS, QStringLiteral("The operation completed successfully.")},
        {ERROR_FILE_NOT_FOUND, QStringLiteral("The system cannot find the file specified.")},
        {ERROR_PATH_NOT_FOUND, QStringLiteral("The system cannot find the path specified.")},
        {ERROR_ACCESS_DENIED, QStringLiteral("Access is denied.")},
        {ERROR_INVALID_HANDLE, QStringLiteral("The handle is invalid.")},
        {ERROR_NOT_ENOUGH_MEMORY,
         QStringLiteral("Not enough memory resources are available to process this command.")},
        {ERROR_OUTOFMEMORY,
         QStringLiteral("Not enough memory resources are available to complete this operation.")},
        {ERROR_WRITE_PROTECT, QStringLiteral("The media is write protected.")},
        {ERROR_SHARING_VIOLATION, QStringLiteral("The process cannot access the file because it "
                                                 "is being used by another process.")},
        {ERROR_NOT_SUPPORTED, QStringLiteral("The request is not supported.")},
        {ERROR_INVALID_PARAMETER, QStringLiteral("The parameter is incorrect.")},
        {ERROR_BAD_PATHNAME, QStringLiteral("The specified path is invalid.")},
        {ERROR_MORE_DATA, QStringLiteral("More data is available.")},
        {ERROR_NO_MORE_ITEMS, QStringLiteral("No more data is available.")},
        {ERROR_NOACCESS, QStringLiteral("Invalid access to memory location.")},
        {ERROR_BADDB, QStringLiteral("The configuration registry database is corrupt.")},
        {ERROR_BADKEY, QStringLiteral("The configuration registry key is invalid.")},
        {ERROR_CANTOPEN, QStringLiteral("The configuration registry key could not be opened.")},
        {ERROR_CANTREAD, QStringLiteral("The configuration registry key could not be read.")},
        {ERROR_CANTWRITE, QStringLiteral("The configuration registry key could not be written.")},
        {ERROR_REGISTRY_RECOVERED,
         QStringLiteral("One of the files in the registry database had to be recovered by use of "
                        "a log or alternate copy. The recovery was successful.")},
        {ERROR_REGISTRY_CORRUPT,
         QStringLiteral("The registry is corrupted. The structure of one of the files containing "
                        "registry data is corrupted, or the system's memory image of the file is "
                        "corrupted, or the file could not be recovered because the alternate copy "
                        "or log was absent or corrupted.")},
        {ERROR_REGISTRY_IO_FAILED,
         QStringLiteral("An I/O operation initiated by the registry failed unrecoverably. The "
                        "registry could not read in, or write out, or flush, one of the files "
                        "that contain the system's image of the registry.")},
        {ERROR_KEY_DELETED, QStringLiteral("Illegal operation attempted on a registry key that "
                                           "has been marked for deletion.")},
        {ERROR_KEY_HAS_CHILDREN, QStringLiteral("Cannot create a symbolic link in a registry key "
                                                "that already has subkeys or values.")},
        {ERROR_CHILD_MUST_BE_VOLATILE,
         QStringLiteral("Cannot create a stable subkey under a volatile parent key.")},
        {ERROR_UNKNOWN_PRODUCT,
         QStringLiteral("This action is only valid for products that are currently installed.")},
        {ERROR_UNKNOWN_PROPERTY, QStringLiteral("Unknown property.")},
        {ERROR_BAD_CONFIGURATION, QStringLiteral("The configuration data for this product is "
                                                 "corrupt.  Contact your support personnel.")},
    };
    const auto found = texts.constFind(code);
    if (found != texts.constEnd())
        return found.value();
    return QStringLiteral("Unknown error 0x%1.").arg(quint32(code), 0, 16);
}
