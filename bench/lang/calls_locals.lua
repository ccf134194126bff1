local function f(a, b, c)
  local x = a + b
  local y = x * c % 1000
  return x + y
end
local function main(n)
  local s = 0
  for i = 1, n do s = f(i % 100, s % 1000, 3) end
  return s
end
print(main(4000000))
