#include "app/routes/route_list_model.h"

#include "vpn/route_id.h"

namespace {

const QChar kSeparator(0x00B7);  // "·" between country and city

}  // namespace

QString RouteListModel::Route::quality() const {
    return available ? baseQuality : QStringLiteral("不可用");
}

QString RouteListModel::Route::latencyState() const {
    return measured ? QStringLiteral("ready") : QStringLiteral("measuring");
}

RouteListModel::RouteListModel(QObject* parent) : RouteListModel(LatencyProbeOptions{}, parent) {}

RouteListModel::RouteListModel(const LatencyProbeOptions& probeOptions, QObject* parent)
    : QAbstractListModel(parent), probe_(probeOptions) {
    connect(&probe_, &LatencyProbe::measured, this, &RouteListModel::onMeasured);
}

int RouteListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant RouteListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= count()) return {};
    return field(routes_.at(visible_.at(index.row())), role);
}

QVariant RouteListModel::field(const Route& route, int role) const {
    switch (role) {
    case RouteIdRole: return route.routeId;
    case CodeRole: return route.code;
    case CountryRole: return route.country;
    case CityRole: return route.city;
    case QualityRole: return route.quality();
    case LatencyRole: return route.latency;
    case RecommendedRole: return route.recommended;
    case GroupRole: return route.group;
    case LatencyStateRole: return route.latencyState();
    case AvailableRole: return route.available;
    case RecentRole: return route.recent;
    default: return {};
    }
}

QHash<int, QByteArray> RouteListModel::roleNames() const {
    return {
        {RouteIdRole, "routeId"},         {CodeRole, "code"},
        {CountryRole, "country"},         {CityRole, "city"},
        {QualityRole, "quality"},         {LatencyRole, "latency"},
        {RecommendedRole, "recommended"}, {GroupRole, "group"},
        {LatencyStateRole, "latencyState"}, {AvailableRole, "available"},
        {RecentRole, "recent"},
    };
}

void RouteListModel::setFilterText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == filterText_) return;
    beginResetModel();
    filterText_ = trimmed;
    rebuildVisible();
    endResetModel();
    emit filterTextChanged();
    emit countChanged();
}

QVariantMap RouteListModel::get(int row) const {
    if (row < 0 || row >= count()) return {};
    const Route& route = routes_.at(visible_.at(row));
    return {
        {QStringLiteral("routeId"), route.routeId},
        {QStringLiteral("code"), route.code},
        {QStringLiteral("country"), route.country},
        {QStringLiteral("city"), route.city},
        {QStringLiteral("quality"), route.quality()},
        {QStringLiteral("group"), route.group},
        {QStringLiteral("latencyState"), route.latencyState()},
        {QStringLiteral("latency"), route.latency},
        {QStringLiteral("recommended"), route.recommended},
        {QStringLiteral("available"), route.available},
        {QStringLiteral("recent"), route.recent},
    };
}

int RouteListModel::visibleIndexOf(const QString& routeId) const {
    for (int row = 0; row < count(); ++row) {
        if (routes_.at(visible_.at(row)).routeId == routeId) return row;
    }
    return -1;
}

RouteListModel::Route RouteListModel::routeFromName(const QString& trimmedName, bool first) {
    Route route;
    route.routeId = trimmedName;
    route.code = QStringLiteral("XB");
    const qsizetype split = trimmedName.indexOf(kSeparator);
    // The parts are not trimmed again: spaces round the separator stay.
    route.country = split > 0 ? trimmedName.left(split) : trimmedName;
    route.city = split > 0 ? trimmedName.mid(split + 1) : trimmedName;
    route.baseQuality = first ? QStringLiteral("面板") : QStringLiteral("可用");
    route.recommended = first;
    route.group = first ? QStringLiteral("推荐") : QStringLiteral("全部地区");
    route.recent = first;
    return route;
}

void RouteListModel::applyMeasurement(Route& route, int milliseconds) const {
    route.measured = true;
    route.available = milliseconds >= 0;
    route.latency = route.available ? milliseconds : 0;
}

void RouteListModel::setNodes(const QStringList& names) {
    beginResetModel();
    routes_.clear();
    for (qsizetype i = 0; i < names.size(); ++i) {
        // The service finds the node by this id, trimmed by the same rule.
        const QString trimmed = QString::fromStdString(vpn::routeIdOf(names.at(i).toStdString()));
        if (trimmed.isEmpty()) continue;
        Route route = routeFromName(trimmed, i == 0);
        const auto found = measurements_.constFind(route.routeId);
        if (found != measurements_.cend()) applyMeasurement(route, *found);
        routes_.append(route);
    }
    rebuildVisible();
    endResetModel();
    emit countChanged();
}

void RouteListModel::clear() {
    beginResetModel();
    routes_.clear();
    rebuildVisible();
    endResetModel();
    emit countChanged();
}

void RouteListModel::setEndpoints(const RouteEndpoints& endpoints) {
    QHash<QString, RouteEndpoint> next;
    for (const RouteEndpoint& endpoint : endpoints) {
        if (!next.contains(endpoint.routeId)) next.insert(endpoint.routeId, endpoint);
    }
    // A result for a node that is gone, or that moved, says nothing about it any more.
    for (auto it = measurements_.begin(); it != measurements_.end();) {
        const auto now = next.constFind(it.key());
        const auto before = endpoints_.constFind(it.key());
        const bool same = now != next.cend() && before != endpoints_.cend() && now->host == before->host &&
                          now->port == before->port;
        it = same ? std::next(it) : measurements_.erase(it);
    }
    endpoints_ = next;
    probe_.setEndpoints(endpoints);
}

void RouteListModel::onMeasured(const QString& routeId, int milliseconds) {
    measurements_.insert(routeId, milliseconds);
    for (int index = 0; index < routes_.size(); ++index) {
        Route& route = routes_[index];
        if (route.routeId != routeId) continue;
        const Route before = route;
        applyMeasurement(route, milliseconds);
        QList<int> roles;
        if (route.latency != before.latency) roles << LatencyRole;
        if (route.latencyState() != before.latencyState()) roles << LatencyStateRole;
        if (route.available != before.available) roles << AvailableRole;
        if (route.quality() != before.quality()) roles << QualityRole;
        const int row = static_cast<int>(visible_.indexOf(index));
        if (!roles.isEmpty() && row >= 0) emit dataChanged(this->index(row), this->index(row), roles);
    }
    emit latencyMeasured(routeId, milliseconds);
}

void RouteListModel::rebuildVisible() {
    visible_.clear();
    for (int index = 0; index < routes_.size(); ++index) {
        const Route& route = routes_.at(index);
        const bool match = filterText_.isEmpty() || route.routeId.contains(filterText_, Qt::CaseInsensitive) ||
                           route.code.contains(filterText_, Qt::CaseInsensitive) ||
                           route.country.contains(filterText_, Qt::CaseInsensitive) ||
                           route.city.contains(filterText_, Qt::CaseInsensitive);
        if (match) visible_.append(index);
    }
}
