"""The chart of docs/performance.svg: each server's ratio to the floor for
each measurement, and under it the Windows build against the Winsock floor
under the same Wine."""
from .plan import MEASUREMENTS, QUIET_OF, WINE_ROWS


def write_svg(path, servers, summary):
    """Grouped bars: each server's ratio to the floor for each measurement."""
    keys = [k for k, _ in MEASUREMENTS if k not in ("p99", "cpu")]
    short = {"page1": "page, 1 client", "page32": "page, 32 clients", "log1": "page, log on",
             "f3000": "3,000 B", "f1m": "1 MiB", "f100m": "100 MiB"}
    palette = ["#888888", "#1f77b4", "#2ca02c", "#ff7f0e", "#9467bd", "#d62728", "#8c564b"]
    shown = [s for s in servers if s.key not in QUIET_OF]
    width, height = 860, 400
    left, right, top, bottom = 60, 20, 40, 110
    plot_w, plot_h = width - left - right, height - top - bottom
    top_ratio = 2.0
    group_w = plot_w / len(keys)
    bar_w = group_w * 0.8 / len(shown)

    def y(v):
        return top + plot_h * (1 - min(v, top_ratio) / top_ratio)

    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
           'font-family="sans-serif" font-size="12">' % (width, height),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="22" font-size="15">Speed relative to the floor (1.0 = floor; higher is faster; '
           'for 100 MiB, floor time / time)</text>' % left]
    for tick in (0, 0.5, 1.0, 1.5, 2.0):
        yy = y(tick)
        out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="%s"/>'
                   % (left, width - right, yy, yy, "#444" if tick == 1.0 else "#ddd"))
        out.append('<text x="%d" y="%.1f" text-anchor="end">%.1f</text>' % (left - 6, yy + 4, tick))
    for g, key in enumerate(keys):
        x0 = left + g * group_w + group_w * 0.1
        for i, s in enumerate(shown):
            v = 1.0 if s.key == "floor" and summary["floor"][key][0] else summary[s.key][key][1]
            if v is None:
                continue
            x = x0 + i * bar_w
            out.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"><title>%s, %s: %.2f</title></rect>'
                       % (x, y(v), bar_w - 1, top + plot_h - y(v), palette[i % len(palette)], s.title, short[key], v))
            if v > top_ratio:  # off the scale: say how far
                out.append('<text x="%.1f" y="%.1f" font-size="9" text-anchor="middle">%.0f×</text>'
                           % (x + bar_w / 2, top - 3, v))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>'
                   % (left + g * group_w + group_w / 2, top + plot_h + 16, short[key]))
    lx, ly = left, top + plot_h + 34
    for i, s in enumerate(shown):
        if lx + 30 + 7 * len(s.title) > width - right:  # next line of the legend
            lx, ly = left, ly + 20
        out.append('<rect x="%d" y="%d" width="12" height="12" fill="%s"/>' % (lx, ly, palette[i % len(palette)]))
        out.append('<text x="%d" y="%d">%s</text>' % (lx + 16, ly + 10, s.title))
        lx += 30 + 7 * len(s.title)
    wine = summary.get("wine-vs-winsock") or {}
    if wine:
        # Below: Harborlight under Wine against the Winsock floor under the same Wine.
        keys_w = [k for k in WINE_ROWS if wine.get(k)]
        top_w = height + 40
        plot_hw = 140
        out.append('<text x="%d" y="%d" font-size="15">Under Wine, relative to the Winsock floor under the '
                   'same Wine (1.0 = floor)</text>' % (left, top_w - 14))

        def yw(v):
            return top_w + plot_hw * (1 - min(v, 1.5) / 1.5)
        for tick in (0, 0.5, 1.0, 1.5):
            out.append('<line x1="%d" x2="%d" y1="%.1f" y2="%.1f" stroke="%s"/>'
                       % (left, width - right, yw(tick), yw(tick), "#444" if tick == 1.0 else "#ddd"))
            out.append('<text x="%d" y="%.1f" text-anchor="end">%.1f</text>' % (left - 6, yw(tick) + 4, tick))
        gw = plot_w / max(len(keys_w), 1)
        colour = {s.key: palette[i % len(palette)] for i, s in enumerate(shown)}
        for g, key in enumerate(keys_w):
            x0 = left + g * gw + gw * 0.3
            for i, (who, title, v) in enumerate((("wfloor", "Winsock floor under Wine", 1.0),
                                                 ("wine", "Harborlight under Wine", wine[key]))):
                out.append('<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s"><title>%s, %s: %.2f'
                           '</title></rect>' % (x0 + i * gw * 0.2, yw(v), gw * 0.2 - 2, top_w + plot_hw - yw(v),
                                                colour[who], title, short[key], v))
                out.append('<text x="%.1f" y="%.1f" text-anchor="middle">%.2f</text>'
                           % (x0 + i * gw * 0.2 + gw * 0.1, yw(v) - 4, v))
            out.append('<text x="%.1f" y="%.1f" text-anchor="middle">%s</text>'
                       % (left + g * gw + gw / 2, top_w + plot_hw + 16, short[key]))
        height = top_w + plot_hw + 30
    out[0] = ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
              'font-family="sans-serif" font-size="12">' % (width, height))
    out.append("</svg>")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")

