#include "RegistryFaults.h"

#include <QHash>

bool RegistryFaults::s_recording = false;
QVector<RegistryFaults::Call> RegistryFaults::s_calls;
QVector<RegistryFaults::Fault> RegistryFaults::s_faults;
QSet<HKEY> RegistryFaults::s_handles;
int RegistryFaults::s_badCloses = 0;
QHash<QString, int> RegistryFaults::s_callNumbers;

void RegistryFaults::reset()
{
    s_recording = false;
    s_calls.clear();
    s_faults.clear();
    s_handles.clear();
    s_badCloses = 0;
    s_callNumbers.clear();
}

void RegistryFaults::setRecording(bool on)
{
    s_recording = on;
    s_callNumbers.clear();
}

void RegistryFaults::failOnce(const QString& function, const QString& subject, LONG code)
{
    s_faults.append({function, subject, code});
}

QVector<RegistryFaults::Call> RegistryFaults::calls()
{
    return s_calls;
}

int RegistryFaults::openHandles()
{
    return s_handles.size();
}

int RegistryFaults::badCloses()
{
    return s_badCloses;
}

bool RegistryFaults::shouldFail(const QString& function, const QString& subject, LONG* code)
{
    if (!s_recording)
        return false;
    for (int i = 0; i < s_faults.size(); ++i) {
        if (s_faults[i].function == function && s_faults[i].subject == subject) {
            *code = s_faults[i].code;
            s_faults.remove(i);
            return true;
        }
    }
    return false;
}

QString RegistryFaults::nextCallNumber(const QString& function)
{
    return QStringLiteral("call %1").arg(++s_callNumbers[function]);
}

void RegistryFaults::record(const QString& function, const QString& subject, REGSAM rights)
{
    if (s_recording)
        s_calls.append({function, subject, rights});
}

void RegistryFaults::opened(HKEY handle)
{
    if (s_recording)
        s_handles.insert(handle);
}

void RegistryFaults::closing(HKEY handle)
{
    if (!s_recording)
        return;
    if (!s_handles.remove(handle))
        ++s_badCloses;
}
