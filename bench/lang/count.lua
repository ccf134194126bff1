local s, i = 0, 0
while i < 3000000 do s = (s + i) % 1000; i = i + 1 end
