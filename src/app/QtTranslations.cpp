#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace eload {

namespace {

bool installCatalogue(QCoreApplication& app, const QString& name)
{
    auto* translator = new QTranslator(&app);
    if (translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    return false;
}

} // namespace

bool installChineseQtTexts(QCoreApplication& app)
{
    // qtbase: boxes, dialogs, edit menus; qtserialport: the serial port's own errors.
    const bool base = installCatalogue(app, QStringLiteral("qtbase_zh_CN"));
    installCatalogue(app, QStringLiteral("qtserialport_zh_CN"));
    return base;
}

} // namespace eload
