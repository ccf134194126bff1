# csv.writer of the rows of load_csv's 20 MB file, read once beforehand, into one string.
import csv
import io
line = 'alpha,1234,"beta, gamma",56.78,delta,epsilon zeta,9,omega\n'
text = line * (20000000 // len(line))
rows = list(csv.reader(io.StringIO(text)))
for _ in range(REPEAT):
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerows(rows)
    out = out.getvalue()
