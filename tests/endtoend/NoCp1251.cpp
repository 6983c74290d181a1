// Preloaded into the installer by the end-to-end run: the framework then
// seems built without the "Windows-1251" codec.
#include <dlfcn.h>

#include <QTextCodec>

QTextCodec* QTextCodec::codecForName(const QByteArray& name)
{
    using Real = QTextCodec* (*)(const QByteArray&);
    static const auto real =
        reinterpret_cast<Real>(dlsym(RTLD_NEXT, "_ZN10QTextCodec12codecForNameERK10QByteArray"));
    return name == "Windows-1251" ? nullptr : real(name);
}
