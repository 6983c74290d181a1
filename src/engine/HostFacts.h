#pragma once

#include <QString>

// What the installer learns about the machine, once, at start-up: the
// architecture, and the folders of the Crypto Pro CSP into which the two
// builds of the module go. An empty folder means not found.
class HostFacts
{
public:
    // Gathers the facts of this machine for the given architecture text
    // (Platform::cpuArchitecture() in the program).
    static HostFacts detect(const QString& architecture);

    // The one answer to "is this a 64-bit host": it decides where the 64-bit
    // folder is looked for, which route the install takes and which registry
    // views the removal cleans, so that install and removal mirror each
    // other. Every 64-bit architecture's name ends in "64" ("x86_64", "arm64").
    bool is64Bit() const { return architecture.endsWith(QLatin1String("64")); }

    QString architecture;
    QString cspFolder;   // receives the 32-bit build
    QString cspFolder64; // receives the 64-bit build; empty on a 32-bit host
    // Why the machine's registry cannot be used, when it cannot; the folders
    // above then say nothing about Crypto Pro.
    QString problem;

private:
    // The Windows Installer product code of the Crypto Pro CSP.
    static QString productCode();
    // The product's "InstallLocation" from the Windows Installer; empty on any
    // failure, including a value whose length changed between the two calls.
    static QString queryProductInfo(const QString& productCode);
};
