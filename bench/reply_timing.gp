# Median ms per call, fixed against whole reply timing: one panel per link and reader
# latency, log scale (whole timing's 0.02 ms and fixed timing's 500 ms on one axis).
# From the repository root, after
#   ./build/bench/zr_reply_timing_bench --data bench/reply_timing.dat
# run
#   gnuplot bench/reply_timing.gp            (writes bench/reply_timing.svg)
# or gnuplot -e "data='other.dat'; out='other.svg'" bench/reply_timing.gp
if (!exists("data")) data = 'bench/reply_timing.dat'
if (!exists("out")) out = 'bench/reply_timing.svg'

set terminal svg size 1200,820 dynamic font 'sans,11' background rgb 'white'
set output out

set termoption noenhanced
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y
set yrange [0.01:2000]
set ytics ('0.01' 0.01, '0.1' 0.1, '1' 1, '10' 10, '50' 50, '500' 500)
set grid ytics
set xtics rotate by -30 nomirror font ',10'
set key top left horizontal
set ylabel 'median ms per call'

fixed = '#c0504d'
whole = '#4f81bd'

set multiplot layout 2,2 title 'zr reply timing against zrsim: median per call (inventory: per whole inventory, incl. the empty poll that ends it)'
set title 'TCP, reader answers at once'
plot data using 2:xtic(1) title 'fixed' lc rgb fixed, '' using 3 title 'whole' lc rgb whole
set title 'TCP, reader 10 ms late'
plot data using 4:xtic(1) title 'fixed' lc rgb fixed, '' using 5 title 'whole' lc rgb whole
set title 'serial (pseudo-terminal), reader answers at once'
plot data using 6:xtic(1) title 'fixed' lc rgb fixed, '' using 7 title 'whole' lc rgb whole
set title 'serial (pseudo-terminal), reader 10 ms late'
plot data using 8:xtic(1) title 'fixed' lc rgb fixed, '' using 9 title 'whole' lc rgb whole
unset multiplot
