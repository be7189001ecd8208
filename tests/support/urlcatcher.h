#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

// Receives the "open this file" requests sent to the desktop while alive.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    UrlCatcher();
    ~UrlCatcher() override;

    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};
