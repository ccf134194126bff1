local function main(n)
  local s, i = 0, 0
  while i < n do s = s + i % 10; i = i + 1 end
  return s
end
print(main(10000000))
