#include "Cp1251.h"

#include <QtTest>

class Cp1251Test : public QObject
{
    Q_OBJECT

private slots:
    void fromCp1251MakesText_data();
    void fromCp1251MakesText();
    void compileTimeBytesAreOneBytePerLetter();
};

void Cp1251Test::fromCp1251MakesText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("an empty byte string gives empty text") << QByteArray() << QString();
    QTest::newRow("the bytes of a Cyrillic word give that word")
        << QByteArray("\xC7\xE0\xEA\xF0\xFB\xF2\xFC") << QStringLiteral("Закрыть");
    QTest::newRow("Latin letters and digits pass unchanged")
        << QByteArray("Crypto Pro 5.0") << QStringLiteral("Crypto Pro 5.0");
    QTest::newRow("yo and the number sign outside the basic block are found")
        << QByteArray("\xA8\xB8 \xB9") << QStringLiteral("Ёё №");
}

void Cp1251Test::fromCp1251MakesText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(fromCp1251(bytes.constData()), text);
}

void Cp1251Test::compileTimeBytesAreOneBytePerLetter()
{
    constexpr auto bytes = cp1251("Удаление Ёж");
    QCOMPARE(QByteArray(bytes.c_str()), QByteArray("\xD3\xE4\xE0\xEB\xE5\xED\xE8\xE5 \xA8\xE6"));
    QCOMPARE(fromCp1251(bytes.c_str()), QStringLiteral("Удаление Ёж"));
}

QTEST_APPLESS_MAIN(Cp1251Test)
#include "Cp1251Test.moc"
