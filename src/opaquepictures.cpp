#include "opaquepictures.h"

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QMutexLocker>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickImageProvider>

namespace {
const QString providerName = QStringLiteral("opaque");
}

// Images may be read on the engine's loader thread.
struct OpaquePictures::Store
{
    QMutex mutex;
    QHash<QString, QImage> pictures;
};

namespace {
// Each picture is read once: the Image that shows it keeps it from then on.
class Provider : public QQuickImageProvider
{
public:
    explicit Provider(std::shared_ptr<OpaquePictures::Store> store)
        : QQuickImageProvider(QQuickImageProvider::Image), store(std::move(store))
    {
    }

    QImage requestImage(const QString &id, QSize *size, const QSize &) override
    {
        QMutexLocker lock(&store->mutex);
        const QImage picture = store->pictures.take(id);
        if (size)
            *size = picture.size();
        return picture;
    }

private:
    std::shared_ptr<OpaquePictures::Store> store;
};
}

OpaquePictures::OpaquePictures(std::shared_ptr<Store> store, QObject *parent)
    : QObject(parent), store(std::move(store))
{
}

void OpaquePictures::install(QQmlEngine *engine)
{
    auto store = std::make_shared<Store>();
    engine->rootContext()->setContextProperty(QStringLiteral("opaquePictures"), new OpaquePictures(store, engine));
    engine->addImageProvider(providerName, new Provider(store));
}

QUrl OpaquePictures::add(const QImage &picture)
{
    const QString id = QString::number(++added);
    QMutexLocker lock(&store->mutex);
    store->pictures.insert(id, picture.convertToFormat(QImage::Format_RGB32));
    return QUrl(QStringLiteral("image://%1/%2").arg(providerName, id));
}
