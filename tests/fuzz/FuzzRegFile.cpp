#include "RegFileReader.h"
#include "RegFileWriter.h"

#include <cstdlib>

// Any bytes as a .reg file: the reader refuses them or reads changes whose
// values come back the same when written as an export writes them and read
// again.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    QList<RegFileReader::Change> changes;
    QString error;
    if (!RegFileReader::parse(QByteArray(reinterpret_cast<const char*>(bytes), int(size)), &changes,
                              &error))
        return 0;
    for (const RegFileReader::Change& change : changes) {
        if (change.kind != RegFileReader::Change::SetValue)
            continue;
        const QString file = RegFileWriter::header() +
                             QStringLiteral("\r\n[HKEY_CURRENT_USER\\F]\r\n") +
                             RegFileWriter::valueLine(change.valueName, change.type, change.data) +
                             QStringLiteral("\r\n");
        QList<RegFileReader::Change> again;
        if (!RegFileReader::parse(RegFileWriter::encode(file), &again, &error) ||
            again.size() != 2 || again[1].valueName != change.valueName ||
            again[1].type != change.type || again[1].data != change.data)
            std::abort();
    }
    return 0;
}
