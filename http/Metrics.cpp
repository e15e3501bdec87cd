// SPDX-License-Identifier: GPL-3.0-or-later
#include "http/Metrics.h"

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

Metrics::Metrics() : registry_(std::make_shared<prometheus::Registry>()) {}

Metrics::~Metrics() = default;

prometheus::Counter& Metrics::Counter(const std::string& name, const std::string& help, const Labels& labels) {
    return prometheus::BuildCounter().Name(name).Help(help).Register(*registry_).Add(labels);
}

prometheus::Gauge& Metrics::Gauge(const std::string& name, const std::string& help, const Labels& labels) {
    return prometheus::BuildGauge().Name(name).Help(help).Register(*registry_).Add(labels);
}

void Metrics::Track(const std::string& name, const std::string& help, std::function<double()> read) {
    prometheus::Gauge& gauge = Gauge(name, help);
    gauge.Set(read());
    std::lock_guard lock(trackedMutex_);
    tracked_.emplace_back(&gauge, std::move(read));
}

void Metrics::Sample() {
    std::lock_guard lock(trackedMutex_);
    for (auto& [gauge, read] : tracked_) gauge->Set(read());
}

std::string Metrics::Text() const { return prometheus::TextSerializer().Serialize(registry_->Collect()); }

const char* Metrics::ContentType() { return "text/plain; version=0.0.4; charset=utf-8"; }
