local function main(n)
  local s = 0
  for i = 1, n do for j = 1, n do s = s + (i * j) % 7 end end
  return s
end
print(main(3500))
