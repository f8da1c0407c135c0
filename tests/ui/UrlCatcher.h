#pragma once
// Takes the place of the desktop's opener for one URL scheme in tests.
#include <QObject>
#include <QUrl>

class UrlCatcher : public QObject {
    Q_OBJECT
  public slots:
    void open(const QUrl& url) { last = url; }

  public:
    QUrl last;
};
