# Draws chip_time's CSV: payload throughput per workload against the bus
# limit, and time per command, for each volume: a bar for the typical card
# and an error bar from the fast card to the slow one. Run by scripts/bench.sh:
#   gnuplot -e "csv='rows.csv'; out='chart.png'; run='short'" bench/chip_time.gp
# run is "short" (CI's counts) or "full" (bench.sh --full). The CSV holds a
# row per workload, volume and card, the cards of one workload and volume
# next to each other; with one card (chip_time --card-timing) its rows are
# the bars and no range is drawn.
set terminal pngcairo size 1400,1000 font "sans,10"
set output out
set datafile separator comma
if (!exists("run")) run = "short"
volumes = "FAT16/1 FAT16/8 FAT16/64 FAT32/1 FAT32/8 FAT32/64"
V = words(volumes)
# FAT16/8 is a FAT16 volume with 8 sectors (4 KiB) per cluster.
legend(v) = sprintf("%s, %s sector%s per cluster", word(volumes, v + 1)[1:5], word(volumes, v + 1)[7:], \
                    word(volumes, v + 1)[7:] eq "1" ? "" : "s")

# Rows per workload and volume: those that name the first row's workload and volume.
stats csv skip 1 every ::0::0 using (first = strcol(1) . strcol(2) . strcol(4), 0) nooutput
stats csv skip 1 using (strcol(1) . strcol(2) . strcol(4) eq first ? 1 : 0) nooutput
C = int(STATS_sum)
rows = STATS_records
G = rows / C
N = G / V
stats csv skip 1 using 15 nooutput
bus_limit = STATS_max
bar_card = C == 1 ? "" : "typical"
bar(card) = bar_card eq "" || card eq bar_card

# kB/s from the payload and the time (bytes per ms), not the CSV's rounded
# column, so that a very slow workload still gets its bar.
rate = "($6 / $9)"
array RATE_LOW[G]
array RATE_HIGH[G]
array MS_LOW[G]
array MS_HIGH[G]
g(row) = int(row) / C + 1
stats csv skip 1 using (strcol(3) eq "slow" ? (RATE_LOW[g($0)] = @rate, MS_HIGH[g($0)] = $14) : \
                        strcol(3) eq "fast" ? (RATE_HIGH[g($0)] = @rate, MS_LOW[g($0)] = $14) : 0) nooutput
ranged = C > 1

w = 0.8 / V
x(row) = (g(row) - 1) % N + ((g(row) - 1) / N - (V - 1) / 2.0) * w
mine(v, value) = (g($0) - 1) / N == v && bar(strcol(3)) ? value : NaN
slow(value) = value < 1 ? value : NaN

set style fill solid 0.85 border -1
set logscale y
set grid ytics
set xrange [-0.6:N - 0.4]
set xtics rotate by -28 font ",9" nomirror
set key outside right top title "volume"
counts = run eq "full" ? "the workloads' full counts" : \
         "short run: fewer calls of the slow workloads than bash scripts/bench.sh --full makes"
cards = ranged ? "bars: the typical card; error bars: from the fast card to the slow one" : \
        "one card profile"
set multiplot layout 2,1 \
    title sprintf("Time on the chip: the image on the emulated PIC32MX170 at 40 MHz (bash scripts/bench.sh)\n%s\n%s", \
                  cards, counts)

set ylabel "payload kB/s (log scale)"
set yrange [0.001:*]
set label 1 "no payload" at first 0, first 0.002 center font ",9"
plot for [v=0:V - 1] csv skip 1 \
       using (x($0)):(mine(v, $6 > 0 ? @rate : NaN)):(w) with boxes title legend(v), \
     csv skip 1 using (x($0)):(ranged && bar(strcol(3)) && $6 > 0 ? @rate : NaN): \
       (RATE_LOW[g($0)]):(RATE_HIGH[g($0)]) with yerrorbars pt 0 lc rgb "black" notitle, \
     for [v=0:V - 1] csv skip 1 \
       using (x($0)):(mine(v, $6 > 0 ? slow(@rate) : NaN) * 1.6):(sprintf("%.3f", @rate)) \
       with labels rotate by 90 left font ",7" notitle, \
     csv skip 1 every C::0::C * N - 1 using 0:(NaN):xtic(1) notitle, \
     bus_limit with lines dt 2 lw 2 lc rgb "black" title sprintf("bus limit %.0f kB/s", bus_limit)
unset label 1

set ylabel "ms per command (log scale)"
set yrange [*:*]
plot for [v=0:V - 1] csv skip 1 \
       using (x($0)):(mine(v, $14)):(w) with boxes title legend(v), \
     csv skip 1 using (x($0)):(ranged && bar(strcol(3)) ? $14 : NaN):(MS_LOW[g($0)]):(MS_HIGH[g($0)]) \
       with yerrorbars pt 0 lc rgb "black" notitle, \
     csv skip 1 every C::0::C * N - 1 using 0:(NaN):xtic(1) notitle
unset multiplot
