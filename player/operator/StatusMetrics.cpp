// SPDX-License-Identifier: MIT
#include "StatusMetrics.h"

#include <functional>
#include <optional>

namespace {

// A label value as the text format wants it: backslash, double quote and line feed escaped.
QByteArray labelValue(const QString& text)
{
    QByteArray value = text.toUtf8();
    value.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
    return value;
}

QByteArray number(double value)
{
    return QByteArray::number(value, 'g', 12);
}

class MetricsText
{
public:
    // A metric family: its HELP and TYPE lines, and a sample for each screen that has the figure.
    void screens(const char* name, const char* type, const char* help, const std::vector<ScreenStatus>& screens,
                 const std::function<std::optional<double>(const ScreenStatus&)>& figure, const QByteArray& extraLabel = {})
    {
        family(name, type, help);
        for (const ScreenStatus& screen : screens) {
            if (const std::optional<double> value = figure(screen)) {
                m_text += QByteArray(name) + "{screen=\"" + labelValue(screen.key) + "\",ip=\"" +
                          labelValue(QString::fromStdString(screen.health.slave.ip)) + '"' + extraLabel + "} " +
                          number(*value) + '\n';
            }
        }
    }

    void single(const char* name, const char* type, const char* help, double value)
    {
        family(name, type, help);
        m_text += QByteArray(name) + ' ' + number(value) + '\n';
    }

    void family(const char* name, const char* type, const char* help)
    {
        if (m_lastFamily == name)
            return;
        m_lastFamily = name;
        m_text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }

    void raw(const QByteArray& line) { m_text += line + '\n'; }

    const QByteArray& text() const { return m_text; }

private:
    QByteArray m_text;
    QByteArray m_lastFamily;
};

std::optional<double> ifKnown(const ScreenStatus& screen, double value)
{
    return screen.health.known ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> ifPresented(const ScreenStatus& screen, double value)
{
    return screen.health.known && screen.health.presentationKnown ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> ifClock(const ScreenStatus& screen, double value)
{
    return screen.health.known && screen.health.clockValid ? std::optional<double>(value) : std::nullopt;
}

} // namespace

QByteArray statusMetrics(const ShowStatus& status)
{
    const ProgrammeStatus& programme = status.programme;
    MetricsText out;
    out.family("multinet_show_state", "gauge", "1 for the state the master's programme is in.");
    for (const char* state : {"starting", "playing", "paused", "stopped"})
        out.raw(QByteArray("multinet_show_state{state=\"") + state + "\"} " + (programme.state == QLatin1String(state) ? "1" : "0"));
    out.single("multinet_show_position_seconds", "gauge", "Where the master's programme is in its item.",
               double(programme.positionUs) / 1e6);
    out.single("multinet_show_play", "gauge", "The play of the programme (items played before it, over every loop).",
               double(programme.play));
    out.single("multinet_show_item", "gauge", "The item of the programme that plays, from 0.", programme.item);

    const std::vector<ScreenStatus>& screens = status.screens;
    out.family("multinet_screen_info", "gauge", "A screen (slave), with the name it reports.");
    for (const ScreenStatus& screen : screens)
        out.raw("multinet_screen_info{screen=\"" + labelValue(screen.key) + "\",ip=\"" +
                labelValue(QString::fromStdString(screen.health.slave.ip)) + "\",name=\"" +
                labelValue(QString::fromStdString(screen.health.text)) + "\"} 1");
    out.screens("multinet_screen_up", "gauge", "Whether the master hears the screen's heartbeats.", screens,
                [](const ScreenStatus& s) { return std::optional<double>(s.onLine ? 1 : 0); });
    out.screens("multinet_screen_health_known", "gauge", "Whether the screen has reported its health.", screens,
                [](const ScreenStatus& s) { return std::optional<double>(s.health.known ? 1 : 0); });
    out.screens("multinet_screen_heartbeat_age_seconds", "gauge", "Time since the screen's last heartbeat.", screens,
                [](const ScreenStatus& s) { return s.heartbeatAgeUs < 0 ? std::nullopt : std::optional<double>(double(s.heartbeatAgeUs) / 1e6); });
    out.screens("multinet_screen_clock_offset_seconds", "gauge", "The screen's clock minus the master's, from its estimate.", screens,
                [](const ScreenStatus& s) { return ifClock(s, s.health.offsetUs / 1e6); });
    out.screens("multinet_screen_clock_drift_ratio", "gauge", "How fast that offset grows (seconds per second).", screens,
                [](const ScreenStatus& s) { return s.health.rateKnown ? ifClock(s, s.health.ratePpm / 1e6) : std::nullopt; });
    out.screens("multinet_screen_clock_uncertainty_seconds", "gauge", "How far the clock samples lie from the estimate.", screens,
                [](const ScreenStatus& s) { return ifClock(s, s.health.uncertaintyUs / 1e6); });
    out.screens("multinet_screen_presentation_lateness_seconds", "gauge",
                "Time a frame was shown minus its instant, over the screen's last 10 s.", screens,
                [](const ScreenStatus& s) { return ifPresented(s, double(s.health.presentation.lateP50Us) / 1e6); },
                ",quantile=\"0.5\"");
    out.screens("multinet_screen_presentation_lateness_seconds", "gauge", "", screens,
                [](const ScreenStatus& s) { return ifPresented(s, double(s.health.presentation.lateP99Us) / 1e6); },
                ",quantile=\"0.99\"");
    out.screens("multinet_screen_frames_shown_total", "counter", "Frames the screen showed.", screens,
                [](const ScreenStatus& s) { return ifPresented(s, s.health.presentation.framesShown); });
    out.screens("multinet_screen_frames_dropped_total", "counter", "Frames the screen dropped, too late to show.", screens,
                [](const ScreenStatus& s) { return ifPresented(s, s.health.presentation.framesDropped); });
    out.screens("multinet_screen_command_repeats_dropped_total", "counter", "Copies of commands the screen dropped as repeats.",
                screens, [](const ScreenStatus& s) { return ifKnown(s, s.health.repeatsDropped); });
    out.screens("multinet_screen_trim_seconds", "gauge", "The screen's trim: how much later than the others it shows its frames.",
                screens, [](const ScreenStatus& s) { return s.trimMs ? std::optional<double>(*s.trimMs / 1e3) : std::nullopt; });
    return out.text();
}
