#include "platform/hostroute.h"

#include "netnsscope.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// "ip route show ..." in the namespace, a route a line, each trimmed.
std::string routes(const NetnsScope &ns, const QStringList &what = {})
{
    QProcess p;
    p.start(u"ip"_s, QStringList {u"-n"_s, ns.name(), u"-4"_s, u"route"_s, u"show"_s} + what);
    p.waitForFinished(10000);
    QStringList lines;
    for (const QString &line :
         QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
        lines.append(line.trimmed());
    return lines.join(u'\n').toStdString();
}

} // namespace

// A machine on a local network (10.78.0.2/24, default route via 10.78.0.1)
// and a tunnel stand-in (kvoppp0) that then takes the default route, as
// pppd's replacedefaultroute does.
TEST(HostRouteNetns, KeepsTheServersWayWhileATunnelHoldsTheDefaultRoute)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for network namespaces";
    NetnsScope ns;
    ASSERT_TRUE(ns.made());
    for (const QStringList &args :
         {QStringList {u"link"_s, u"add"_s, u"kvolan0"_s, u"type"_s, u"veth"_s, u"peer"_s,
                       u"name"_s, u"kvolan1"_s},
          {u"link"_s, u"add"_s, u"kvoppp0"_s, u"type"_s, u"veth"_s, u"peer"_s, u"name"_s,
           u"kvoppp1"_s},
          {u"addr"_s, u"add"_s, u"10.78.0.2/24"_s, u"dev"_s, u"kvolan0"_s},
          {u"link"_s, u"set"_s, u"kvolan0"_s, u"up"_s},
          {u"link"_s, u"set"_s, u"kvolan1"_s, u"up"_s},
          {u"link"_s, u"set"_s, u"kvoppp0"_s, u"up"_s},
          {u"link"_s, u"set"_s, u"kvoppp1"_s, u"up"_s},
          {u"link"_s, u"set"_s, u"lo"_s, u"up"_s}})
        ASSERT_TRUE(ns.in(args)) << args.join(u' ').toStdString();
    ASSERT_TRUE(ns.enter());

    // No route there yet: nothing to keep, no error.
    {
        HostRoute none;
        EXPECT_TRUE(none.add(u"10.79.0.5"_s));
        EXPECT_FALSE(none.active());
    }
    ASSERT_TRUE(ns.in({u"route"_s, u"add"_s, u"default"_s, u"via"_s, u"10.78.0.1"_s}));
    const std::string before = routes(ns);

    {
        HostRoute route;
        QString error;
        ASSERT_TRUE(route.add(u"10.79.0.5"_s, &error)) << error.toStdString();
        EXPECT_TRUE(route.active());
        EXPECT_EQ(route.gateway(), u"10.78.0.1"_s);
        EXPECT_EQ(routes(ns, {u"10.79.0.5"_s}), "10.79.0.5 via 10.78.0.1 dev kvolan0 proto 201");

        // The tunnel takes the default route; the server is still reached outside it.
        ASSERT_TRUE(ns.in({u"route"_s, u"replace"_s, u"default"_s, u"dev"_s, u"kvoppp0"_s}));
        EXPECT_EQ(routes(ns, {u"match"_s, u"10.79.0.5"_s}),
                  "default dev kvoppp0 scope link\n10.79.0.5 via 10.78.0.1 dev kvolan0 proto 201");
        ASSERT_TRUE(ns.in({u"route"_s, u"replace"_s, u"default"_s, u"via"_s, u"10.78.0.1"_s}));
    }
    EXPECT_EQ(routes(ns), before); // gone with its object

    // A route left by a process that was killed is taken over, and goes.
    {
        HostRoute first;
        ASSERT_TRUE(first.add(u"10.79.0.6"_s));
        first.release();
    }
    EXPECT_EQ(routes(ns, {u"10.79.0.6"_s}), "10.79.0.6 via 10.78.0.1 dev kvolan0 proto 201");
    {
        HostRoute next;
        ASSERT_TRUE(next.add(u"10.79.0.6"_s));
        EXPECT_TRUE(next.active());
        EXPECT_EQ(routes(ns, {u"10.79.0.6"_s}), "10.79.0.6 via 10.78.0.1 dev kvolan0 proto 201");
    }
    EXPECT_EQ(routes(ns), before);

    // Someone else's host route and the machine's own address stay untouched.
    ASSERT_TRUE(ns.in({u"route"_s, u"add"_s, u"10.79.0.7"_s, u"via"_s, u"10.78.0.1"_s}));
    {
        HostRoute theirs, own;
        EXPECT_TRUE(theirs.add(u"10.79.0.7"_s));
        EXPECT_FALSE(theirs.active());
        EXPECT_TRUE(own.add(u"10.78.0.2"_s));
        EXPECT_FALSE(own.active());
    }
    EXPECT_EQ(routes(ns, {u"10.79.0.7"_s}), "10.79.0.7 via 10.78.0.1 dev kvolan0");

    // An address on the local network itself: on-link, no gateway.
    {
        HostRoute onLink;
        ASSERT_TRUE(onLink.add(u"10.78.0.9"_s));
        EXPECT_TRUE(onLink.active());
        EXPECT_TRUE(onLink.gateway().isEmpty());
        EXPECT_EQ(routes(ns, {u"10.78.0.9"_s}), "10.78.0.9 dev kvolan0 proto 201 scope link");
    }
    HostRoute bad;
    QString error;
    EXPECT_FALSE(bad.add(u"10.79.0.256"_s, &error));
    EXPECT_FALSE(error.isEmpty());
    ns.leave();
}
