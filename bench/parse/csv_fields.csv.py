# Splits the same 10 MB text into rows of fields with the csv module.
import csv, io
line = "alpha,1234,beta gamma,56.78,delta,epsilon zeta,9,omega\n"
text = line * (10000000 // len(line))
for _ in range(REPEAT):
    rows = list(csv.reader(io.StringIO(text)))
