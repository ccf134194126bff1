# csv.reader of a 20 MB file into a list of rows: eight fields a line, one of them quoted with a
# delimiter inside.
import csv
import io
line = 'alpha,1234,"beta, gamma",56.78,delta,epsilon zeta,9,omega\n'
text = line * (20000000 // len(line))
for _ in range(REPEAT):
    rows = list(csv.reader(io.StringIO(text)))
