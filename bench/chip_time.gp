# Draws chip_time's CSV: payload throughput per workload against the bus
# limit, and time per command, for each volume. Run by scripts/bench.sh:
#   gnuplot -e "csv='rows.csv'; out='chart.png'" bench/chip_time.gp
set terminal pngcairo size 1200,1000 font "sans,10"
set output out
set datafile separator comma
volumes = "FAT16/1 FAT16/8 FAT16/64 FAT32/1 FAT32/8 FAT32/64"
stats csv skip 1 using 4 nooutput
N = STATS_records / words(volumes)
stats csv skip 1 using 14 nooutput
bus_limit = STATS_max
w = 0.8 / words(volumes)
x(v) = int($0) % N + (v - (words(volumes) - 1) / 2.0) * w
mine(v, value) = int($0) / N == v ? value : NaN

set style fill solid 0.85 border -1
set logscale y
set grid ytics
set xrange [-0.6:N - 0.4]
set xtics rotate by -28 font ",9" nomirror
set key outside right top
set yrange [0.01:*]
set multiplot layout 2,1 title "Time on the chip: the image on the emulated PIC32MX170 at 40 MHz (bash scripts/bench.sh)"

set ylabel "payload kB/s"
plot for [v=0:words(volumes) - 1] csv skip 1 \
       using (x(v)):(mine(v, $5 > 0 ? $9 : NaN)):(w) with boxes title word(volumes, v + 1), \
     csv skip 1 every ::0::N-1 using 0:(NaN):xtic(1) notitle, \
     bus_limit with lines dt 2 lw 2 lc rgb "black" title sprintf("bus limit %.0f kB/s", bus_limit)

set ylabel "ms per command"
set yrange [*:*]
plot for [v=0:words(volumes) - 1] csv skip 1 \
       using (x(v)):(mine(v, $13)):(w) with boxes title word(volumes, v + 1), \
     csv skip 1 every ::0::N-1 using 0:(NaN):xtic(1) notitle
unset multiplot
