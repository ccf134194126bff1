# Splits a 10 MB CSV-like text into its fields: re finds the fields, a list per line.
import re
line = "alpha,1234,beta gamma,56.78,delta,epsilon zeta,9,omega\n"
text = line * (10000000 // len(line))
for _ in range(REPEAT):
    rows = [re.findall(r"[^,]+", l) for l in re.split(r"\n", text) if l]
