local function main(n)
  local m = {}
  for i = 1, n do m[i] = i % 7 end
  local s = 0
  for i = 1, n do s = s + m[i] end
  return s
end
print(main(3000000))
