#include "sandbox/sandbox.h"

#include "sandbox/http_engine.h"
#include "sandbox/site.h"

#include <fstream>
#include <stdexcept>

namespace vorsa::sandbox {

const char* behaviourName(Behaviour behaviour) {
    switch (behaviour) {
        case Behaviour::Forward:
            return "Forward";
        case Behaviour::ForwardDelayed:
            return "ForwardDelayed";
        case Behaviour::Answer404:
            return "Answer404";
        case Behaviour::Answer502:
            return "Answer502";
        case Behaviour::StripMarker:
            return "StripMarker";
        case Behaviour::CloseAtOnce:
            return "CloseAtOnce";
        case Behaviour::NeverAnswer:
            return "NeverAnswer";
        case Behaviour::NotListening:
            return "NotListening";
    }
    return "?";
}

std::vector<ProxySpec> repeat(Behaviour behaviour, int n, int delayMs) {
    return std::vector<ProxySpec>(n > 0 ? std::size_t(n) : 0, ProxySpec{behaviour, delayMs});
}

std::vector<ProxySpec> defaultProxies() {
    std::vector<ProxySpec> mix = repeat(Behaviour::Forward, 2);
    for (int delay : {40, 80, 150, 300})
        mix.push_back({Behaviour::ForwardDelayed, delay});
    for (Behaviour b : {Behaviour::Answer404, Behaviour::Answer502, Behaviour::StripMarker,
                        Behaviour::CloseAtOnce, Behaviour::NeverAnswer, Behaviour::NotListening})
        for (const ProxySpec& one : repeat(b, 2))
            mix.push_back(one);
    return mix;
}

std::string Proxy::proxyString() const {
    return address + ":" + std::to_string(port);
}

struct Sandbox::Impl {
    Options options;
    std::vector<Proxy> proxies;
    std::unique_ptr<HttpEngine> engine;
    std::unique_ptr<Site> site;
};

Sandbox::Sandbox(Options options) : m_impl(std::make_unique<Impl>()) {
    Impl& d = *m_impl;
    d.options = std::move(options);
    const int first = d.options.firstProxyAddress;
    if (first < 2 || first + int(d.options.proxies.size()) - 1 > 254)
        throw std::runtime_error("sandbox: proxy addresses must lie within 127.0.0.2..254");
    for (std::size_t i = 0; i < d.options.proxies.size(); ++i) {
        Proxy p;
        p.behaviour = d.options.proxies[i].behaviour;
        p.delayMs = d.options.proxies[i].delayMs;
        p.index = int(i);
        p.address = "127.0.0." + std::to_string(first + int(i));
        d.proxies.push_back(p);
    }
    d.engine = std::make_unique<HttpEngine>(d.options, d.proxies);
    d.site = std::make_unique<Site>(d.options, d.proxies, baseUrl());
    Site* site = d.site.get();
    d.engine->start([site](const HttpRequest& request, const std::string& peer) {
        return site->handle(request, peer);
    });
}

Sandbox::~Sandbox() {
    // The event thread goes first: it is the only reader of the site.
    m_impl->engine.reset();
}

std::uint16_t Sandbox::port() const {
    return m_impl->engine->port();
}

std::string Sandbox::baseUrl() const {
    return "http://" + m_impl->options.serverAddress + ":" + std::to_string(port());
}

std::string Sandbox::url(std::string_view pathAndQuery) const {
    return baseUrl() + std::string(pathAndQuery);
}

const std::vector<Proxy>& Sandbox::proxies() const {
    return m_impl->proxies;
}

std::vector<Proxy> Sandbox::proxiesWith(Behaviour behaviour) const {
    std::vector<Proxy> out;
    for (const Proxy& p : m_impl->proxies)
        if (p.behaviour == behaviour)
            out.push_back(p);
    return out;
}

const Proxy& Sandbox::proxy(Behaviour behaviour) const {
    for (const Proxy& p : m_impl->proxies)
        if (p.behaviour == behaviour)
            return p;
    throw std::out_of_range(std::string("sandbox: no proxy of kind ") + behaviourName(behaviour));
}

std::vector<LoggedRequest> Sandbox::requests() const {
    return m_impl->engine->requests();
}
std::size_t Sandbox::requestCount() const {
    return m_impl->engine->requestCount();
}
void Sandbox::clearRequests() {
    m_impl->engine->clearRequests();
}

std::string Sandbox::hostsIni() const {
    std::string out = "[hosts]\n";
    for (const char* key :
         {"cnp", "proxycn", "proxynet", "ros", "proxylists", "antipalivo", "portal_a", "portal_b",
          "portal_c", "portal_d", "iplookup", "echo", "maker"})
        out += std::string(key) + "=" + baseUrl() + "\n";
    return out;
}

void Sandbox::writeHostsIni(const std::string& path) const {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << hostsIni();
    file.close();
    if (!file)
        throw std::runtime_error("sandbox: cannot write " + path);
}

std::vector<ExpectedRow> Sandbox::expectedRows() const {
    return m_impl->site->expectedRows();
}

std::vector<std::string> Sandbox::expectedHarvest() const {
    return m_impl->site->expectedHarvest();
}

}  // namespace vorsa::sandbox
