# Latency histograms of one conversion type: healthy, late and silent board,
# and (for ea) the Python peer. Variables: out, dir, conversion.
set terminal pngcairo size 1000,600 font "sans,10"
set output out
set title sprintf("%s latency per call (native build, simulated board)", conversion)
set xlabel "milliseconds"
set ylabel "calls"
set style fill transparent solid 0.5 noborder
set key top right
width = 0.05
bin(x) = width * floor(x / width) + width / 2
set boxwidth width
files = sprintf("%s/latency-%s-healthy.dat %s/latency-%s-late.dat %s/latency-%s-silent.dat", dir, conversion, dir, conversion, dir, conversion)
titles = "healthy late silent"
if (conversion eq "ea") {
  files = files . sprintf(" %s/latency-peer-python.dat", dir)
  titles = titles . " python-peer"
}
plot for [i=1:words(files)] word(files, i) using (bin($1)):(1.0) smooth frequency with boxes title word(titles, i)
