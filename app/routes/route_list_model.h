#pragma once
// The routes (the account's nodes) that the route palette lists and from which the
// connection's route is chosen, with a case-insensitive text filter. Latency is measured
// by a LatencyProbe once the nodes' addresses are known.

#include <QAbstractListModel>
#include <QHash>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

#include "app/routes/latency_probe.h"
#include "app/routes/route_endpoint.h"

class RouteListModel : public QAbstractListModel {
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_CLASSINFO("QML.Creatable", "false")
    Q_CLASSINFO("QML.UncreatableReason", "RouteListModel is provided by the application")
    Q_PROPERTY(QString filterText READ filterText WRITE setFilterText NOTIFY filterTextChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        RouteIdRole = Qt::UserRole + 1,
        CodeRole,
        CountryRole,
        CityRole,
        QualityRole,
        LatencyRole,
        RecommendedRole,
        GroupRole,
        LatencyStateRole,
        AvailableRole,
        RecentRole,
    };
    Q_ENUM(Role)

    explicit RouteListModel(QObject* parent = nullptr);
    // Tests shorten the probe's time-out and interval.
    explicit RouteListModel(const LatencyProbeOptions& probeOptions, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    QString filterText() const { return filterText_; }
    void setFilterText(const QString& text);
    int count() const { return static_cast<int>(visible_.size()); }

    Q_INVOKABLE QVariantMap get(int row) const;
    Q_INVOKABLE int visibleIndexOf(const QString& routeId) const;

    // Rebuilds the list from the account's node names; a route keeps its latest
    // measurement when it was measured before.
    void setNodes(const QStringList& names);
    void clear();
    // Where each route's node answers; routes are measured from then on.
    void setEndpoints(const RouteEndpoints& endpoints);

signals:
    void filterTextChanged();
    void countChanged();
    // A measurement of a route's node: milliseconds, or a negative value when unavailable.
    void latencyMeasured(const QString& routeId, int milliseconds);

private:
    struct Route {
        QString routeId;
        QString code;
        QString country;
        QString city;
        QString baseQuality;  // the quality while the node answers
        int latency = 0;
        bool recommended = false;
        QString group;
        bool measured = false;
        bool available = true;
        bool recent = false;

        QString quality() const;
        QString latencyState() const;
    };

    static Route routeFromName(const QString& trimmedName, bool first);
    void applyMeasurement(Route& route, int milliseconds) const;
    void onMeasured(const QString& routeId, int milliseconds);
    void rebuildVisible();
    QVariant field(const Route& route, int role) const;

    QVector<Route> routes_;
    QVector<int> visible_;  // indices into routes_
    QString filterText_;
    QHash<QString, RouteEndpoint> endpoints_;
    QHash<QString, int> measurements_;  // latest result per route id with a known endpoint
    LatencyProbe probe_;
};
