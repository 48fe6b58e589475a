# Draws chip_time's CSV: payload throughput per workload against the bus
# limit, and time per command, for each volume. Run by scripts/bench.sh:
#   gnuplot -e "csv='rows.csv'; out='chart.png'; run='short'" bench/chip_time.gp
# run is "short" (CI's counts) or "full" (bench.sh --full).
set terminal pngcairo size 1200,1000 font "sans,10"
set output out
set datafile separator comma
if (!exists("run")) run = "short"
volumes = "FAT16/1 FAT16/8 FAT16/64 FAT32/1 FAT32/8 FAT32/64"
V = words(volumes)
# FAT16/8 is a FAT16 volume with 8 sectors (4 KiB) per cluster.
legend(v) = sprintf("%s, %s sector%s per cluster", word(volumes, v + 1)[1:5], word(volumes, v + 1)[7:], \
                    word(volumes, v + 1)[7:] eq "1" ? "" : "s")
stats csv skip 1 using 4 nooutput
N = STATS_records / V
stats csv skip 1 using 14 nooutput
bus_limit = STATS_max
w = 0.8 / V
x(v) = int($0) % N + (v - (V - 1) / 2.0) * w
mine(v, value) = int($0) / N == v ? value : NaN
# kB/s from the payload and the time (bytes per ms), not the CSV's rounded
# column, so that a very slow workload still gets its bar.
rate = "($5 / $8)"
slow(value) = value < 1 ? value : NaN

set style fill solid 0.85 border -1
set logscale y
set grid ytics
set xrange [-0.6:N - 0.4]
set xtics rotate by -28 font ",9" nomirror
set key outside right top title "volume"
counts = run eq "full" ? "the workloads' full counts" : \
         "short run: fewer calls of the slow workloads than bash scripts/bench.sh --full makes"
set multiplot layout 2,1 \
    title sprintf("Time on the chip: the image on the emulated PIC32MX170 at 40 MHz (bash scripts/bench.sh)\n%s", counts)

set ylabel "payload kB/s (log scale)"
set yrange [0.001:*]
set label 1 "no payload" at first 0, first 0.002 center font ",9"
plot for [v=0:V - 1] csv skip 1 \
       using (x(v)):(mine(v, $5 > 0 ? @rate : NaN)):(w) with boxes title legend(v), \
     for [v=0:V - 1] csv skip 1 \
       using (x(v)):(mine(v, $5 > 0 ? slow(@rate) : NaN) * 1.6):(sprintf("%.3f", @rate)) \
       with labels rotate by 90 left font ",7" notitle, \
     csv skip 1 every ::0::N-1 using 0:(NaN):xtic(1) notitle, \
     bus_limit with lines dt 2 lw 2 lc rgb "black" title sprintf("bus limit %.0f kB/s", bus_limit)
unset label 1

set ylabel "ms per command (log scale)"
set yrange [*:*]
plot for [v=0:V - 1] csv skip 1 \
       using (x(v)):(mine(v, $13)):(w) with boxes title legend(v), \
     csv skip 1 every ::0::N-1 using 0:(NaN):xtic(1) notitle
unset multiplot
